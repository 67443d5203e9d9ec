// Real servers from Debian as test peers: Postfix as the mail server and squid
// as a proxy with Basic authentication. Each runs on a free loopback port with
// a private configuration, queue and spool in a scratch folder, in the
// foreground as a child of the test, and is stopped by its destructor. Both
// need root (Postfix's master always does; squid to drop to its own user, as
// it does in service), which is how CI runs the suite; Ready() is false
// otherwise, with the reason in Problem().
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "tests/support/peers.h"

namespace zentrova::testing {

// Postfix as strict as a careful site sets it up: HELO required, and refused
// unless it carries a fully qualified name or an address literal; a line
// ending in a bare LF refused. Mail for kMailbox is delivered into a maildir.
// What both servers keep: their scratch folder, the running server (stopped
// with it, before the folder goes), its port, and why it is not ready.
class RealServer {
 public:
  bool Ready() const { return ready_; }
  const std::string& Problem() const { return problem_; }

 protected:
  // Starts argv once ready is printed, each try on a free port (which another
  // program may take before the server binds it); write(port) gives the
  // server its configuration for that port first, or says why it cannot.
  void StartOnFreePort(const std::function<bool(int port)>& write,
                       const std::vector<std::string>& argv, const std::string& ready);

  TempDir dir_;
  ChildProcess process_;
  int port_ = 0;
  bool ready_ = false;
  std::string problem_;
};

class Postfix : public RealServer {
 public:
  static constexpr const char* kMailbox = "sms@gateway.zentrova.test";

  Postfix();
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Log() const { return process_.Output(); }

  // Waits (at most limit) until the next mail has been delivered, by the
  // mail log, and returns the bytes of its maildir file; empty when none came.
  std::string NextDelivery(std::chrono::milliseconds limit);

 private:
  int delivered_ = 0;
};

// squid 5 asking every client for Basic credentials: user and password (kept
// hashed in an htpasswd file, checked by squid's basic_ncsa_auth helper).
class Squid : public RealServer {
 public:
  Squid(const std::string& user, const std::string& password);
  int Port() const { return port_; }
  std::string Output() const { return process_.Output(); }
};

// aiosmtpd as a plain mailbox that needs no root (tests/smtp/mailbox_server.py):
// it keeps every mail and prints each as one JSON line, numbered from 1.
// Address() is empty when it did not start.
class MailboxServer {
 public:
  MailboxServer();
  const std::string& Address() const { return address_; }
  // The mail stored as number seq, or null when none came within the bound.
  nlohmann::json Mail(int seq);

 private:
  ChildProcess process_;
  std::string address_;
};

}  // namespace zentrova::testing
