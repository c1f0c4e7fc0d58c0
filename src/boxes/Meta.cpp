#include "boxes/Meta.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <cstring>

#include "foundation/ByteOrder.h"
#include "foundation/PropertyList.h"

namespace {

constexpr uint32_t kXml = 0x786D6C20;  // "xml "

void collectAttributes(xmlDocPtr doc, xmlNodePtr node, Meta& meta) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
      const char* name = reinterpret_cast<const char*>(attr->name);
      const bool isMaker = std::strcmp(name, "manufacturer") == 0;
      const bool isModel = std::strcmp(name, "modelName") == 0;
      if (!isMaker && !isModel) continue;
      // Text pieces only: references to entities of the document's own DTD are left out
      // rather than expanded, so a small box cannot grow into a huge text.
      std::string text;
      for (xmlNodePtr piece = attr->children; piece; piece = piece->next)
        if (piece->type == XML_TEXT_NODE && piece->content) text += reinterpret_cast<const char*>(piece->content);
      (isMaker ? meta.manufacture : meta.device) = std::move(text);
    }
    collectAttributes(doc, node->children, meta);
  }
}

// Reads the maker and model from one XML document; a document that does not parse changes
// nothing. The parser neither reaches the network nor expands entities into the tree.
void readXml(const uint8_t* text, uint32_t length, Meta& meta) {
  if (length == 0 || length > static_cast<uint32_t>(INT32_MAX)) return;
  qvr::prepareXmlParser();
  xmlDocPtr doc = xmlReadMemory(reinterpret_cast<const char*>(text), static_cast<int>(length), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS);
  if (!doc) return;
  Meta found;
  found.manufacture = meta.manufacture;
  found.device = meta.device;
  collectAttributes(doc, xmlDocGetRootElement(doc), found);
  xmlFreeDoc(doc);
  meta.manufacture = std::move(found.manufacture);
  meta.device = std::move(found.device);
}

}  // namespace

std::unique_ptr<Meta> Meta::initMetaWithByte(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Meta>();
  box->readBytes(bytes, size);
  return box;
}

void Meta::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 8) return;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  if (boxSize < 17) return;
  for (uint64_t p = 8; p + 8 < boxSize;) {
    const uint32_t childSize = qvr::readBE32(bytes + p);
    const uint32_t childType = qvr::readBE32(bytes + p + 4);
    // The document follows a 12-byte full-box header, so a shorter child holds none.
    if (childType == kXml && childSize >= 12 && p + childSize <= boxSize) {
      readXml(bytes + p + 12, childSize - 12, *this);
      p += childSize;
    } else {
      ++p;
    }
  }
}
