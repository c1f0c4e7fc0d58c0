#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Error.h"
#include "support/LocalHttpServer.h"

namespace reporttest {

// The emulator's published development account.
inline const char* kDevAccount = "devstoreaccount1";
inline const char* kDevKey = "Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==";

inline std::string devConnectionString(const std::string& blobEndpoint, const std::string& key = kDevKey) {
  return "DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=" + key +
         ";BlobEndpoint=" + blobEndpoint + ";";
}

// Collects one completion: its arguments, the thread it ran on and how often it ran.
template <typename T>
class Completion {
 public:
  std::function<void(T)> handler() {
    auto state = state_;
    return [state](T value) {
      std::lock_guard lock(state->mutex);
      if (++state->calls == 1) {
        state->thread = std::this_thread::get_id();
        state->promise.set_value(std::move(value));
      }
    };
  }
  // The value, or none when the handler did not run within `seconds`.
  std::optional<T> wait(double seconds = 30) {
    if (!ready_) {
      auto f = state_->promise.get_future();
      if (f.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) return std::nullopt;
      value_ = f.get();
      ready_ = true;
    }
    return value_;
  }
  int calls() const {
    std::lock_guard lock(state_->mutex);
    return state_->calls;
  }
  std::thread::id thread() const {
    std::lock_guard lock(state_->mutex);
    return state_->thread;
  }

 private:
  struct State {
    std::mutex mutex;
    std::promise<T> promise;
    int calls = 0;
    std::thread::id thread;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  bool ready_ = false;
  std::optional<T> value_;
};

using ErrorResult = std::optional<qvr::Error>;
using ErrorBoolResult = std::pair<std::optional<qvr::Error>, bool>;

// Adapts a two-argument handler onto a Completion of pairs.
inline std::function<void(std::optional<qvr::Error>, bool)> pairHandler(Completion<ErrorBoolResult>& c) {
  auto h = c.handler();
  return [h](std::optional<qvr::Error> e, bool b) { h(ErrorBoolResult(std::move(e), b)); };
}

// The first error-or-success completion of `operation`; an error of its own when none came.
inline std::optional<qvr::Error> run(const std::function<void(std::function<void(ErrorResult)>)>& operation,
                                     double seconds = 60) {
  Completion<ErrorResult> done;
  operation(done.handler());
  auto r = done.wait(seconds);
  return r ? *r : qvr::Error("test", -1, {{"reason", "no completion"}});
}

// A storage service that answers request after request from a script, then with `fallback`.
struct Answer : testsupport::LocalHttpServer::Response {
  Answer(int status = 200, std::string body = {}, std::map<std::string, std::string> headers = {})
      : Response{status, std::move(body), std::move(headers)} {}
};
using Script = std::vector<Answer>;
using RecordedRequest = testsupport::LocalHttpServer::Request;
class TestHttpServer : public testsupport::LocalHttpServer {
 public:
  explicit TestHttpServer(Script script, Answer fallback = {})
      : LocalHttpServer([script, fallback, next = size_t(0)](const Request&) mutable {
          return next < script.size() ? script[next++] : fallback;
        }) {}
  // The blob endpoint of a development account on this server.
  std::string endpoint() const { return baseUrl() + "/devstoreaccount1"; }
};

inline int64_t statusOf(const qvr::Error& e) {
  auto it = e.userInfo.find("HTTP Status Code");
  return it == e.userInfo.end() ? -1 : it->second.integer().value_or(-1);
}

}  // namespace reporttest
