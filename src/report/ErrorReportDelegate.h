#pragma once

#include <string>

// How the error-report upload tells its windows what to show. Every method may be called from
// any thread; the receiver moves the window change to the GUI thread.
class ErrorReportDelegate {
 public:
  virtual ~ErrorReportDelegate() = default;
  virtual void changeErrorTabViewWithIdentifier(const std::string& identifier, const std::string& buttonTitle,
                                                bool retryButtonHidden) = 0;
  virtual void changeUploadFileName(const std::string& name) = 0;
  virtual void updatePercentageForErrorUpload(double percentage) = 0;
  virtual void failedUploadWithHeader(const std::string& header) = 0;
  virtual void failedUploadWithHeaderState(bool state) = 0;
};
