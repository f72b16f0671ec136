#include "cd/AccurateRipLookup.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace cd {

namespace {

// Database files are a few kilobytes; anything far larger is not one.
constexpr std::size_t MaxBodyBytes = 4 << 20;
constexpr long HttpOk = 200;
constexpr long HttpNotFound = 404;

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<std::vector<std::uint8_t>*>(user);
    const std::size_t bytes = size * count;
    if (body->size() + bytes > MaxBodyBytes) {
        return 0; // makes curl fail the transfer
    }
    body->insert(body->end(), data, data + bytes);
    return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(user);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

} // namespace

AccurateRipLookup::Result AccurateRipLookup::Fetch(const std::string& url,
                                                   std::chrono::milliseconds timeout,
                                                   const std::atomic<bool>* cancel) {
    GlobalInit();
    Result result;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        result.error = "libcurl could not start a transfer";
        return result;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel));
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Vellorine");
    const CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK) {
        result.body.clear();
        result.error = errorText[0] != 0 ? errorText : curl_easy_strerror(rc);
        return result;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status == HttpOk) {
        result.kind = Result::Kind::Found;
    } else if (status == HttpNotFound) {
        result.kind = Result::Kind::NotFound;
        result.body.clear();
    } else {
        result.body.clear();
        result.error = "the server answered HTTP " + std::to_string(status);
    }
    return result;
}

AccurateRipLookup::AccurateRipLookup(std::string url, Done done, std::chrono::milliseconds timeout)
    : worker_([this, url = std::move(url), done = std::move(done), timeout] {
          const Result result = Fetch(url, timeout, &cancel_);
          if (!cancel_) {
              done(result);
          }
      }) {}

AccurateRipLookup::~AccurateRipLookup() {
    cancel_ = true;
    worker_.join();
}

} // namespace cd
