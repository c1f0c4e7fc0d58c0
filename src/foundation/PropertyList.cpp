#include "foundation/PropertyList.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace qvr {

namespace {
bool named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string textOf(const xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

const xmlNode* nextElement(const xmlNode* node) {
  while (node && node->type != XML_ELEMENT_NODE) node = node->next;
  return node;
}
}  // namespace

void prepareXmlParser() {
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
}

std::optional<PropertyDictionary> parsePropertyList(const uint8_t* data, size_t size) {
  if (!data || size == 0 || size > INT_MAX) return std::nullopt;
  prepareXmlParser();
  // No network access and no entity expansion: the list comes from a server we do not control.
  xmlDocPtr doc = xmlReadMemory(reinterpret_cast<const char*>(data), static_cast<int>(size), "plist.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return std::nullopt;
  std::optional<PropertyDictionary> result;
  const xmlNode* root = xmlDocGetRootElement(doc);
  const xmlNode* dict = nullptr;
  if (root && named(root, "plist")) {
    dict = nextElement(root->children);
  } else if (root && named(root, "dict")) {
    dict = root;
  }
  if (dict && named(dict, "dict")) {
    PropertyDictionary values;
    for (const xmlNode* key = nextElement(dict->children); key; key = nextElement(key->next)) {
      if (!named(key, "key")) continue;
      const xmlNode* value = nextElement(key->next);
      if (!value) break;
      std::string name = textOf(key);
      if (named(value, "string") || named(value, "integer") || named(value, "real") || named(value, "date")) {
        values[name] = textOf(value);
      } else if (named(value, "true") || named(value, "false")) {
        values[name] = reinterpret_cast<const char*>(value->name);
      }
      key = value;
    }
    result = std::move(values);
  }
  xmlFreeDoc(doc);
  return result;
}

}  // namespace qvr
