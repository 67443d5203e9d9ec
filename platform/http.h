// The HTTP client the gateway transport talks through, shaped like the Windows
// internet client the kit was designed around: a session (user agent, proxy
// selection, time-outs), a connection to one server, and a request that is
// sent, queried for its status and read. Failures carry the Windows internet
// error numbers, so the transport tells them apart the same way everywhere,
// and a message text meant for a person.
//
// The objects are used from one thread at a time. A connection refers to its
// session and a request to its connection: keep them alive in that order.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zentrova::platform {

// Windows internet error numbers.
inline constexpr unsigned long kErrorNotEnoughMemory = 8;
inline constexpr unsigned long kInternetErrorTimeout = 12002;
inline constexpr unsigned long kInternetErrorInternal = 12004;
inline constexpr unsigned long kInternetErrorInvalidUrl = 12005;
inline constexpr unsigned long kInternetErrorNameNotResolved = 12007;
inline constexpr unsigned long kInternetErrorIncorrectPassword = 12014;
inline constexpr unsigned long kInternetErrorIncorrectHandleState = 12019;
inline constexpr unsigned long kInternetErrorCannotConnect = 12029;
inline constexpr unsigned long kInternetErrorConnectionAborted = 12030;
inline constexpr unsigned long kHttpErrorInvalidServerResponse = 12152;

struct HttpError {
  unsigned long code = 0;
  std::string message;  // at most 511 characters, no line end
  // The whole request, body included, had gone out on the connection before
  // the failure: the server may have acted on it.
  bool requestSent = false;
};

// The HTTP library's process-wide set-up, done once; later calls give the
// first outcome. Sessions call it themselves; a program calls it at start-up
// to report a failure early.
bool InitialiseHttp(std::string& message);

enum class HttpAccess {
  kDirect,     // no proxy, whatever the environment says
  kPreconfig,  // the system's settings: http_proxy (or HTTP_PROXY) and no_proxy (or NO_PROXY)
  kProxy,      // the proxy given to Open
};

// An HTTP proxy as the settings name it. host is a host name, an IPv4 address
// or a bracketed IPv6 address, without scheme or port (see http_rules.h). The
// user name and password answer the proxy's request for authentication; the
// session does not send them by itself (see HttpRequest::SetProxyCredentials).
struct HttpProxy {
  std::string host;
  int port = 0;
  std::string userName;
  std::string password;
};

// Time limits of every request of a session, in milliseconds; 0 is no limit.
struct HttpTimeouts {
  long connectMs = 0;  // establishing the connection (also to a proxy)
  long sendMs = 0;     // counted into the whole attempt's limit when attemptMs is 0
  long receiveMs = 0;  // the longest wait without a byte of the reply, once the request is out
  long attemptMs = 0;  // the whole exchange, connection to last byte of the reply
  // Connection attempts WinINet makes before it gives up (0 leaves its own
  // setting); the POSIX client tries every address of a name once.
  unsigned long connectRetries = 0;
};

class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // proxy is used with kProxy only, for plain HTTP and without a bypass list.
  // Fails when the library cannot start or the proxy breaks the rules of
  // ProxyUrl (http_rules.h).
  bool Open(std::string_view userAgent, HttpAccess access, const HttpProxy& proxy,
            HttpError& error);
  void SetTimeouts(const HttpTimeouts& timeouts);
  // Whether requests go through a proxy: the given one, or one the system's
  // settings name (a server they exempt still counts).
  bool ThroughProxy() const;

 private:
  friend class HttpConnection;
  friend class HttpRequest;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class HttpConnection {
 public:
  HttpConnection();
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // The server name is taken literally, by the rules of ParseServerName
  // (http_rules.h): a name that breaks them fails with kInternetErrorInvalidUrl.
  bool Open(const HttpSession& session, std::string_view server, int port, HttpError& error);
  bool IsOpen() const;

 private:
  friend class HttpRequest;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class HttpRequest {
 public:
  HttpRequest();
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // objectName is the path with its query, sent as it stands. The request line
  // says HTTP/1.1 and the connection is kept for a later Send.
  bool Open(const HttpConnection& connection, std::string_view verb, std::string_view objectName,
            HttpError& error);
  bool IsOpen() const;

  // Sends the request with body as its content and receives the reply; it
  // succeeds once the reply's status line and headers have come. The
  // request carries Host, User-Agent and Content-Length (plus proxy and
  // keep-alive headers where they apply) and nothing else. May be called again
  // to resend.
  bool Send(std::string_view body, HttpError& error);

  // The status code of the last reply; fails when nothing was received.
  bool QueryStatusCode(unsigned long& status, HttpError& error) const;

  // The next bytes of the reply body; read is 0 at its end. When the body broke
  // off, the bytes that came are handed out first, then the failure.
  bool Read(char* buffer, std::size_t size, std::size_t& read, HttpError& error);

  // Answers a proxy's request for authentication (Basic) on the next Send. An
  // empty user name and password send no credentials at all.
  bool SetProxyCredentials(std::string_view userName, std::string_view password, HttpError& error);

  // The interactive error dialog of a desktop system (WinINet's); elsewhere
  // there is none and this does nothing. The caller goes on with its next attempt.
  void ShowErrorDialog(unsigned long error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zentrova::platform
