// The HTTP client over libcurl. One easy handle per request does the whole
// exchange in Send; the reply body is kept and handed out by Read. Finished
// requests hand their handle back to a process-wide pool, so the connection
// it keeps open serves the next request to the same server (as WinINet keeps
// one): a list of numbers pays for one connection, not one per number.
#include "platform/http.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <openssl/ssl.h>  // the flags only

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/http_rules.h"
#include "platform/wipe.h"

namespace zentrova::platform {

namespace {

// The gateway's replies are short; a longer body is still received (the
// exchange must finish cleanly) but what lies past this is dropped.
constexpr std::size_t kHeldReplyLimit = 1024 * 1024;

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// Idle easy handles, each keeping the connections of its last requests open,
// filed under the server and proxy they went to. A handle is used by one
// request at a time and may move between threads; the library's shared
// connection cache is not safe across threads, so connections are not shared.
class IdleHandles {
 public:
  EasyHandle Take(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it)
      if (it->key == key) {
        EasyHandle easy = std::move(it->easy);
        idle_.erase(std::next(it).base());
        return easy;
      }
    return nullptr;
  }
  void Give(std::string key, EasyHandle easy) {
    curl_easy_reset(easy.get());  // keeps the open connections, drops the rest
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() >= kKept) idle_.erase(idle_.begin());  // the longest unused
    idle_.push_back({std::move(key), std::move(easy)});
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.clear();
  }

 private:
  // More than the automation server's callers use at once in practice; a
  // handle beyond it closes its connections.
  static constexpr std::size_t kKept = 8;
  struct Idle {
    std::string key;
    EasyHandle easy;
  };
  std::mutex mutex_;
  std::vector<Idle> idle_;
};

// Only plain HTTP is ever spoken. The library still starts its TLS backend
// in its global set-up, which reads the system's OpenSSL configuration file,
// loads every error text of the TLS library and registers every cipher and
// digest by name: most of what a one-shot program would spend before its
// first request. Each of these happens once per process, so starting OpenSSL
// first without them makes the library's later request for them a no-op.
struct CurlGlobal {
  CURLcode code;
  IdleHandles idle;
  CurlGlobal() : code(Start()) {}
  static CURLcode Start() {
    // Looked up where the HTTP library brought it in, rather than linked:
    // one more library early in the program's search order would slow the
    // loader's every symbol look-up, and an HTTP library built on another
    // TLS library simply has no such function.
    using InitSsl = int (*)(std::uint64_t, const OPENSSL_INIT_SETTINGS*);
    if (auto init = reinterpret_cast<InitSsl>(dlsym(RTLD_DEFAULT, "OPENSSL_init_ssl")))
      init(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_SSL_STRINGS |
               OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
               OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
           nullptr);
    return curl_global_init(CURL_GLOBAL_NOTHING);
  }
  ~CurlGlobal() {
    idle.Clear();  // the handles go before the library's own clean-up
    if (code == CURLE_OK) curl_global_cleanup();
  }
};

CurlGlobal& Global() {
  static CurlGlobal global;
  return global;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// Which Windows internet error a curl failure corresponds to. The transport
// treats a time-out and an aborted connection differently from the rest.
unsigned long MapCurlCode(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kInternetErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kInternetErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kInternetErrorCannotConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:  // a kept connection closed after the request went out
      return kInternetErrorConnectionAborted;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return kHttpErrorInvalidServerResponse;
    case CURLE_URL_MALFORMAT:
      return kInternetErrorInvalidUrl;
    case CURLE_OUT_OF_MEMORY:
      return kErrorNotEnoughMemory;
    default:
      return kInternetErrorInternal;
  }
}

const char* Environment(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if (!value || !*value) value = std::getenv(upper);
  return value && *value ? value : nullptr;
}

}  // namespace

bool InitialiseHttp(std::string& message) {
  const CurlGlobal& global = Global();
  if (global.code != CURLE_OK) {
    message = std::string("the HTTP library cannot start: ") + curl_easy_strerror(global.code);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- session

struct HttpSession::Impl {
  std::string userAgent;
  HttpAccess access = HttpAccess::kDirect;
  std::string proxy;  // curl's proxy URL, "" for none
  std::string noProxy;
  HttpTimeouts timeouts;
};

HttpSession::HttpSession() = default;
HttpSession::~HttpSession() = default;

bool HttpSession::Open(std::string_view userAgent, HttpAccess access, const HttpProxy& proxy,
                       HttpError& error) {
  std::string message;
  if (!InitialiseHttp(message)) return Fail(error, kInternetErrorInternal, message);
  auto impl = std::make_unique<Impl>();
  impl->userAgent = std::string(userAgent);
  impl->access = access;
  if (access == HttpAccess::kProxy) {
    if (!ProxyUrl(proxy, impl->proxy, error)) return false;
  } else if (access == HttpAccess::kPreconfig) {
    if (const char* system = Environment("http_proxy", "HTTP_PROXY")) impl->proxy = system;
    if (const char* noProxy = Environment("no_proxy", "NO_PROXY")) impl->noProxy = noProxy;
  }
  impl_ = std::move(impl);
  return true;
}

bool HttpSession::ThroughProxy() const { return impl_ && !impl_->proxy.empty(); }

void HttpSession::SetTimeouts(const HttpTimeouts& timeouts) {
  if (impl_) impl_->timeouts = timeouts;
}

// ------------------------------------------------------------- connection

struct HttpConnection::Impl {
  const HttpSession::Impl* session = nullptr;
  std::string urlHost;
  int port = 80;
};

HttpConnection::HttpConnection() = default;
HttpConnection::~HttpConnection() = default;
bool HttpConnection::IsOpen() const { return impl_ != nullptr; }

bool HttpConnection::Open(const HttpSession& session, std::string_view server, int port,
                          HttpError& error) {
  if (!session.impl_)
    return Fail(error, kInternetErrorIncorrectHandleState, "the internet session is not open");
  auto impl = std::make_unique<Impl>();
  impl->session = session.impl_.get();
  impl->port = port;
  if (!ParseServerName(server, impl->urlHost, impl->port, error)) return false;
  impl_ = std::move(impl);
  return true;
}

// ---------------------------------------------------------------- request

using Clock = std::chrono::steady_clock;

constexpr const char* kClosedAfterInterimReply =
    "the server closed the connection after an interim reply (1xx), before its answer";

struct HttpRequest::Impl {
  EasyHandle easy;
  std::string poolKey;  // the server and proxy, for the pool of idle handles
  HeaderList headers;
  std::string url;
  std::string body;  // curl reads the POST data from here during Send
  std::string received;
  std::size_t readPos = 0;
  std::size_t dropped = 0;
  bool outOfMemory = false;  // the reply could not be held
  bool replied = false;
  HttpError cutShort;  // the reply's head arrived but its body broke off
  std::string proxyUser, proxyPassword;
  char errorText[CURL_ERROR_SIZE] = {};

  // The body is a request document, the password in it; it is wiped before
  // its memory goes, and so is the proxy's password.
  ~Impl() {
    WipeBytes(body.data(), body.capacity());
    WipeBytes(proxyPassword.data(), proxyPassword.capacity());
    if (easy) Global().idle.Give(std::move(poolKey), std::move(easy));
  }

  // The library sends a request again on a new connection when a kept one
  // closes without a byte of reply, also once the request had gone out: the
  // server may have acted on it, so that new connection is refused and the
  // exchange fails as it would have on a new connection. A request of which
  // no byte left (the send itself failed) may still go again.
  bool resendRefused = false;
  static curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto& impl = *static_cast<Impl*>(user);
    long sent = 0;  // request bytes this transfer has sent so far
    curl_easy_getinfo(impl.easy.get(), CURLINFO_REQUEST_SIZE, &sent);
    if (sent > 0) {
      impl.resendRefused = true;
      return CURL_SOCKET_BAD;
    }
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  }

  // The stall rule: once the whole request is out, a reply that brings no
  // byte for stallMs ends the exchange. The library's own low-speed check
  // averages over several seconds and counts the upload too, so it would
  // let a stall run on well past the limit.
  long stallMs = 0;
  curl_off_t uploaded = 0, downloaded = 0;
  std::size_t headerBytes = 0, headerBytesSeen = 0;
  Clock::time_point lastByte;
  bool stalled = false;
  // The library takes a connection closed inside the header for the end of
  // a reply without a body; the blank line that ends a header block tells.
  bool headerEnded = false;
  // An interim reply (1xx: "100 Continue") is no answer yet: its bytes do not
  // count against the stall wait, so a server that sends nothing else ends
  // within that wait however many it sends.
  bool interim = false;

  static int WatchForStall(void* user, curl_off_t, curl_off_t downloaded, curl_off_t,
                           curl_off_t uploaded) {
    auto& impl = *static_cast<Impl*>(user);
    Clock::time_point now = Clock::now();
    if (uploaded != impl.uploaded || downloaded != impl.downloaded ||
        impl.headerBytes != impl.headerBytesSeen) {
      impl.uploaded = uploaded;
      impl.downloaded = downloaded;
      impl.headerBytesSeen = impl.headerBytes;
      impl.lastByte = now;
      return 0;
    }
    bool requestOut = static_cast<std::size_t>(uploaded) >= impl.body.size();
    if (impl.stallMs > 0 && requestOut &&
        now - impl.lastByte >= std::chrono::milliseconds(impl.stallMs)) {
      impl.stalled = true;
      return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
    }
    return 0;
  }

  static std::size_t CountHeader(char* line, std::size_t size, std::size_t count, void* user) {
    auto& impl = *static_cast<Impl*>(user);
    std::string_view text(line, size * count);
    if (text.substr(0, 5) == "HTTP/") {  // a new block (after a 1xx)
      impl.headerEnded = false;
      std::size_t blank = text.find(' ');
      impl.interim = blank != std::string_view::npos && blank + 1 < text.size() &&
                     text[blank + 1] == '1';
    }
    if (!impl.interim) impl.headerBytes += text.size();
    if (text == "\r\n" || text == "\n") impl.headerEnded = true;
    return text.size();
  }

  // What a failure of the exchange means to a person, where the library's own
  // text does not say it.
  static std::string Describe(CURLcode code, const Impl& impl) {
    if (impl.outOfMemory) return "there is not enough memory to hold the server's reply";
    if (impl.stalled)
      return "the server sent no byte of its reply for " + std::to_string(impl.stallMs) + " ms";
    if (impl.interim && MapCurlCode(code) == kInternetErrorConnectionAborted)
      return kClosedAfterInterimReply;
    if (code == CURLE_OUT_OF_MEMORY && impl.uploaded > 0)
      return "the server's reply header is too large to be held (more than " +
             std::to_string(CURL_MAX_HTTP_HEADER / 1024) + " KB)";
    return impl.errorText[0] ? impl.errorText : curl_easy_strerror(code);
  }
};

HttpRequest::HttpRequest() = default;
HttpRequest::~HttpRequest() = default;
bool HttpRequest::IsOpen() const { return impl_ != nullptr; }

bool HttpRequest::Open(const HttpConnection& connection, std::string_view verb,
                       std::string_view objectName, HttpError& error) {
  if (!connection.impl_)
    return Fail(error, kInternetErrorIncorrectHandleState, "the connection is not open");
  if (verb != "POST")
    return Fail(error, kInternetErrorInternal, "only POST requests are supported");
  for (char c : objectName)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
      return Fail(error, kInternetErrorInvalidUrl,
                  "the object name holds a blank or control character");
  const HttpConnection::Impl& conn = *connection.impl_;
  const HttpSession::Impl& session = *conn.session;

  auto impl = std::make_unique<Impl>();
  std::string origin = "http://" + conn.urlHost + ":" + std::to_string(conn.port);
  impl->poolKey = origin + '\n' + session.proxy + '\n' + session.noProxy;
  impl->easy = Global().idle.Take(impl->poolKey);
  if (!impl->easy) impl->easy.reset(curl_easy_init());
  if (!impl->easy) return Fail(error, kErrorNotEnoughMemory, "cannot create an HTTP request");
  CURL* easy = impl->easy.get();

  impl->url = origin + std::string(objectName);
  // The library adds these unless told not to; strict gateways reject them.
  curl_slist* list = nullptr;
  for (const char* header : {"Expect:", "Content-Type:", "Accept:"}) {
    curl_slist* next = curl_slist_append(list, header);
    if (!next) {
      curl_slist_free_all(list);
      return Fail(error, kErrorNotEnoughMemory, "cannot build the request headers");
    }
    list = next;
  }
  impl->headers.reset(list);

  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, impl->errorText);
  curl_easy_setopt(easy, CURLOPT_URL, impl->url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, session.userAgent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, impl->headers.get());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_write_callback collect = [](char* data, size_t size, size_t count, void* user) -> size_t {
    auto* held = static_cast<Impl*>(user);
    std::size_t bytes = size * count;
    std::size_t room = kHeldReplyLimit - held->received.size();
    std::size_t keep = bytes < room ? bytes : room;
    // No exception may cross the library's frames: it would leave the handle
    // marked busy, and every later transfer on it would fail to start.
    try {
      held->received.append(data, keep);
    } catch (const std::bad_alloc&) {
      held->outOfMemory = true;
      return 0;  // ends the transfer
    }
    held->dropped += bytes - keep;
    return bytes;
  };
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl.get());
  // An empty proxy turns off curl's own reading of the environment; the
  // system's settings were read by the session.
  // An empty list also keeps curl from reading no_proxy itself: a proxy given
  // explicitly is used for every server.
  curl_easy_setopt(easy, CURLOPT_PROXY, session.proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, session.noProxy.c_str());
  curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));

  const HttpTimeouts& t = session.timeouts;
  if (t.connectMs > 0) curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, t.connectMs);
  long attemptMs = t.attemptMs;
  if (attemptMs == 0 && t.sendMs > 0 && t.receiveMs > 0)
    attemptMs = t.connectMs + t.sendMs + t.receiveMs;
  if (attemptMs > 0) curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, attemptMs);
  impl->stallMs = t.receiveMs;
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, Impl::CountHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, impl.get());
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, Impl::WatchForStall);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, impl.get());
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, Impl::OpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, impl.get());
  impl_ = std::move(impl);
  return true;
}

bool HttpRequest::Send(std::string_view body, HttpError& error) {
  if (!impl_) return Fail(error, kInternetErrorIncorrectHandleState, "the request is not open");
  Impl& impl = *impl_;
  CURL* easy = impl.easy.get();
  WipeBytes(impl.body.data(), impl.body.capacity());
  impl.body.assign(body);
  impl.received.clear();
  impl.readPos = 0;
  impl.dropped = 0;
  impl.outOfMemory = false;
  impl.replied = false;
  impl.cutShort = HttpError{};
  impl.errorText[0] = '\0';
  impl.uploaded = impl.downloaded = 0;
  impl.headerBytes = impl.headerBytesSeen = 0;
  impl.lastByte = Clock::now();
  impl.stalled = false;
  impl.headerEnded = false;
  impl.interim = false;
  impl.resendRefused = false;
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(impl.body.size()));
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, impl.body.data());
  CURLcode code = curl_easy_perform(easy);
  if (impl.outOfMemory) code = CURLE_OUT_OF_MEMORY;
  impl.replied = true;
  if (impl.resendRefused) {  // as the library reports it on a new connection
    code = CURLE_GOT_NOTHING;
    std::snprintf(impl.errorText, sizeof impl.errorText, "Empty reply from server");
  }
  if (code == CURLE_OK && (!impl.headerEnded || impl.interim)) {
    // The library ends a transfer whose connection closed after an interim
    // reply as if that were the reply; the server's answer never came.
    impl.replied = false;
    Fail(error, kInternetErrorConnectionAborted,
         impl.interim ? kClosedAfterInterimReply
                      : "the server closed the connection in the middle of its reply's header");
    error.requestSent = true;
    return false;
  }
  if (code != CURLE_OK) {
    std::string message = Impl::Describe(code, impl);
    unsigned long mapped = impl.stalled ? kInternetErrorTimeout : MapCurlCode(code);
    long status = 0;
    if (!impl.interim) curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t uploaded = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    long requestBytes = 0;
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestBytes);
    bool requestSent = impl.resendRefused ||
                       (requestBytes > 0 && static_cast<std::size_t>(uploaded) >= impl.body.size());
    if (status == 0) {
      impl.replied = false;
      Fail(error, mapped, message);
      error.requestSent = requestSent;
      return false;
    }
    // The status line and headers came: the request was sent and answered,
    // and the failure belongs to reading the body (a proxy that closes the
    // connection right after its 407 page, for example). Read reports it.
    Fail(impl.cutShort, mapped, message);
    impl.cutShort.requestSent = true;
  }
  return true;
}

bool HttpRequest::QueryStatusCode(unsigned long& status, HttpError& error) const {
  if (!impl_ || !impl_->replied)
    return Fail(error, kInternetErrorIncorrectHandleState, "no reply has been received");
  long code = 0;
  curl_easy_getinfo(impl_->easy.get(), CURLINFO_RESPONSE_CODE, &code);
  status = static_cast<unsigned long>(code);
  return true;
}

bool HttpRequest::Read(char* buffer, std::size_t size, std::size_t& read, HttpError& error) {
  read = 0;
  if (!impl_ || !impl_->replied)
    return Fail(error, kInternetErrorIncorrectHandleState, "no reply has been received");
  std::size_t left = impl_->received.size() - impl_->readPos;
  if (left == 0 && impl_->cutShort.code != 0) {
    error = impl_->cutShort;
    return false;
  }
  read = left < size ? left : size;
  if (read) std::memcpy(buffer, impl_->received.data() + impl_->readPos, read);
  impl_->readPos += read;
  return true;
}

bool HttpRequest::SetProxyCredentials(std::string_view userName, std::string_view password,
                                      HttpError& error) {
  if (!impl_) return Fail(error, kInternetErrorIncorrectHandleState, "the request is not open");
  impl_->proxyUser.assign(userName);
  impl_->proxyPassword.assign(password);
  bool none = userName.empty() && password.empty();
  curl_easy_setopt(impl_->easy.get(), CURLOPT_PROXYUSERNAME,
                   none ? nullptr : impl_->proxyUser.c_str());
  curl_easy_setopt(impl_->easy.get(), CURLOPT_PROXYPASSWORD,
                   none ? nullptr : impl_->proxyPassword.c_str());
  return true;
}

void HttpRequest::ShowErrorDialog(unsigned long) {}

}  // namespace zentrova::platform
