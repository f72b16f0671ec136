#include "cd/DatabaseLookup.h"

namespace cd {

namespace {

constexpr long HttpOk = 200;
constexpr long HttpNotFound = 404;

std::string Why(const platform::HttpReply& reply) {
    switch (reply.outcome) {
    case platform::HttpOutcome::TooLarge:
        return "the answer is too large to be a database file";
    case platform::HttpOutcome::TimedOut:
        return "the server did not answer in time";
    default:
        return reply.error;
    }
}

} // namespace

DatabaseLookup::Result DatabaseLookup::Fetch(const std::string& url, const LookupOptions& options,
                                             const std::atomic<bool>* cancel) {
    platform::HttpRequest request;
    request.url = url;
    request.timeout = options.timeout;
    request.connectTimeout = options.timeout;
    request.maxBytes = MaxBodyBytes;
    request.proxy = options.proxy;
    request.cancel = cancel;
    const platform::HttpReply reply = platform::HttpClient::Get(request);
    Result result;
    if (reply.outcome != platform::HttpOutcome::Ok) {
        result.error = Why(reply);
    } else if (reply.status == HttpOk) {
        result.kind = Result::Kind::Found;
        result.body.assign(reply.body.begin(), reply.body.end());
        result.text = reply.Text();
    } else if (reply.status == HttpNotFound) {
        result.kind = Result::Kind::NotFound;
    } else {
        result.error = "the server answered HTTP " + std::to_string(reply.status);
    }
    return result;
}

DatabaseLookup::DatabaseLookup(std::string url, Done done, LookupOptions options)
    : worker_([this, url = std::move(url), done = std::move(done), options] {
          const Result result = Fetch(url, options, &cancel_);
          if (!cancel_) {
              done(result);
          }
      }) {}

DatabaseLookup::~DatabaseLookup() {
    cancel_ = true;
    worker_.join();
}

} // namespace cd
