#include "service/HTTP.h"

#include "common/Text.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <mutex>

namespace brindle::HTTP {

namespace {

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Sink {
    std::string* memory = nullptr;
    FILE* file = nullptr;
};

size_t writeBody(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<Sink*>(context);
    size_t bytes = size * count;
    if (sink->file) return std::fwrite(data, 1, bytes, sink->file);
    sink->memory->append(data, bytes);
    return bytes;
}

size_t writeHeader(char* data, size_t size, size_t count, void* context) {
    auto* headers = static_cast<std::map<std::string, std::string>*>(context);
    std::string line(data, size * count);
    size_t colon = line.find(':');
    if (Text::startsWith(line, "HTTP/")) headers->clear();  // a new answer (after 100 Continue)
    else if (colon != std::string::npos)
        (*headers)[Text::lowerASCII(Text::trim(line.substr(0, colon)))] = Text::trim(line.substr(colon + 1));
    return size * count;
}

// The file a download lands in, made the sink of the body; none without one.
File openDownload(const Request& request, Sink& sink) {
    if (!request.downloadTo) return nullptr;
    File download(std::fopen(request.downloadTo->c_str(), "wb"));
    if (!download) throw TransportError("Could not write " + request.downloadTo->string());
    sink.file = download.get();
    return download;
}

// Where the answer goes, and the idle time-out.
void setTransport(CURL* handle, const Request& request, Sink& sink, Response& response) {
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, writeHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &response.headers);
    // Idle time-out: fail when fewer than 1 byte a second moves for `timeout` seconds.
    long idle = request.timeout < 1 ? 1L : static_cast<long>(request.timeout);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, idle);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, idle);
}

// The method and the body: streamed from a file, or from memory. Returns the
// open upload file, which must outlive the transfer.
File setBody(CURL* handle, const Request& request) {
    if (request.bodyFile) {
        File upload(std::fopen(request.bodyFile->c_str(), "rb"));
        if (!upload) throw TransportError("Could not read " + request.bodyFile->string());
        std::fseek(upload.get(), 0, SEEK_END);
        curl_off_t size = std::ftell(upload.get());
        std::fseek(upload.get(), 0, SEEK_SET);
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle, CURLOPT_READDATA, upload.get());
        curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, size);
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        return upload;
    }
    if (request.method == "GET") {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        if (request.method != "POST") curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    return nullptr;
}

std::unique_ptr<curl_slist, ListDeleter> headerList(const Request& request) {
    std::unique_ptr<curl_slist, ListDeleter> headers;
    bool hasContentType = false;
    for (const auto& [name, value] : request.headers) {
        if (Text::lowerASCII(name) == "content-type") hasContentType = true;
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    // curl would otherwise add its own form type to a POST body, and wait a
    // second for 100 Continue on large uploads.
    if (!hasContentType && request.method != "GET")
        headers.reset(curl_slist_append(headers.release(), "Content-Type:"));
    headers.reset(curl_slist_append(headers.release(), "Expect:"));
    return headers;
}

}  // namespace

std::string Response::header(const std::string& lowerName) const {
    auto found = headers.find(lowerName);
    return found == headers.end() ? "" : found->second;
}

Response send(const Request& request) {
    initialiseOnce();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) throw TransportError("Could not start an HTTP request.");
    CURL* handle = curl.get();

    Response response;
    Sink sink{&response.body, nullptr};
    File download = openDownload(request, sink);
    setTransport(handle, request, sink, response);
    File upload = setBody(handle, request);
    std::unique_ptr<curl_slist, ListDeleter> headers = headerList(request);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

    CURLcode code = curl_easy_perform(handle);
    if (download && std::fflush(download.get()) != 0 && code == CURLE_OK) code = CURLE_WRITE_ERROR;
    if (code != CURLE_OK) throw TransportError(curl_easy_strerror(code));
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    return response;
}

}  // namespace brindle::HTTP
