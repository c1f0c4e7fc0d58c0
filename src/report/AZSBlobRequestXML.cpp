#include "report/AZSBlobRequestXML.h"

#include <libxml/xmlwriter.h>

#include <memory>

#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"

namespace {
const xmlChar* x(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

struct WriterDeleter {
  void operator()(xmlTextWriter* w) const { xmlFreeTextWriter(w); }
};
struct BufferDeleter {
  void operator()(xmlBuffer* b) const { xmlBufferFree(b); }
};
}  // namespace

std::optional<std::string> AZSBlobRequestXML::createBlockListXMLFromArray(
    const std::vector<AZSBlockListItem>& blockList, AZSOperationContext& operationContext,
    std::optional<qvr::Error>& error) {
  auto fail = [&](std::optional<int> returnCode) -> std::optional<std::string> {
    operationContext.logAtLevel(2, "Error in generating XML block list.");
    qvr::UserInfo info;
    if (returnCode) info[AZSXmlReturnCodeKey] = static_cast<int64_t>(*returnCode);
    error = qvr::Error(AZSErrorDomain, AZSEXMLCreationError, std::move(info));
    return std::nullopt;
  };

  std::unique_ptr<xmlBuffer, BufferDeleter> buffer(xmlBufferCreate());
  if (!buffer) return fail(std::nullopt);
  // The writer is freed before the buffer: freeing it flushes into the buffer.
  std::unique_ptr<xmlTextWriter, WriterDeleter> writer(xmlNewTextWriterMemory(buffer.get(), 0));
  if (!writer) return fail(std::nullopt);

  int rc = xmlTextWriterStartDocument(writer.get(), nullptr, "ISO-8859-1", nullptr);
  if (rc < 0) return fail(rc);
  rc = xmlTextWriterStartElement(writer.get(), x("BlockList"));
  if (rc < 0) return fail(rc);
  for (const AZSBlockListItem& item : blockList) {
    const char* element = nullptr;
    switch (item.blockListMode) {
      case AZSBlockListModeLatest:
        element = "Latest";
        break;
      case AZSBlockListModeCommitted:
        element = "Committed";
        break;
      case AZSBlockListModeUncommitted:
        element = "Uncommitted";
        break;
      default:
        return fail(std::nullopt);
    }
    rc = xmlTextWriterWriteElement(writer.get(), x(element), x(item.blockID.c_str()));
    if (rc < 0) return fail(rc);
  }
  rc = xmlTextWriterEndDocument(writer.get());
  if (rc < 0) return fail(rc);
  rc = xmlTextWriterFlush(writer.get());
  if (rc < 0) return fail(rc);
  writer.reset();
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                     static_cast<size_t>(xmlBufferLength(buffer.get())));
}
