#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "apicom.h"
#include "platform/printable.h"
#include "sandbox.h"

namespace zentrova::sandbox {

ReplyScript::ReplyScript(std::vector<ReplyStep> steps) : steps_(std::move(steps)) {
  if (steps_.empty()) steps_.emplace_back();
}

ReplyStep ReplyScript::Next() {
  std::size_t n = served_.fetch_add(1);
  return steps_[n < steps_.size() ? n : steps_.size() - 1];
}

bool Journal::Open(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  log_ = std::fopen(path.c_str(), "a");
  if (!log_) {
    error = "cannot open the log file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

Journal::~Journal() {
  if (log_) std::fclose(log_);
}

void Journal::Record(nlohmann::json entry, const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::cout << line << std::endl;
  if (log_) {
    std::string text = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), log_);
    std::fflush(log_);
  }
}

std::string OneLine(const std::string& text, std::size_t limit) {
  std::string out = platform::Escaped(std::string_view(text).substr(0, limit),
                                      platform::LineEnds::kEscaped);
  if (text.size() > limit) out += "...";
  return out;
}

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

nlohmann::json HeaderFields(const std::string& head) {
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t at = 0;
  while (at < head.size()) {
    std::size_t eol = head.find('\n', at);
    if (eol == std::string::npos) eol = head.size();
    std::string line = head.substr(at, eol - at);
    at = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    if (!fields.empty() && (line[0] == ' ' || line[0] == '\t')) {
      fields.back().second += line;
      continue;
    }
    const std::size_t colon = line.find(':');
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    const std::size_t start = value.find_first_not_of(" \t");
    value.erase(0, start == std::string::npos ? value.size() : start);
    fields.emplace_back(line.substr(0, colon), value);
  }
  nlohmann::json headers = nlohmann::json::array();
  for (const auto& [name, value] : fields)
    headers.push_back({Latin1ToUtf8(name), Latin1ToUtf8(value)});
  return headers;
}

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  port = 0;
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    port = port * 10 + (text[i] - '0');
    if (port > 65535) return false;
  }
  return true;
}

std::string UtcTimestamp(std::optional<std::timespec> at) {
  std::timespec ts = at.value_or(std::timespec{});
  if (!at) std::timespec_get(&ts, TIME_UTC);
  std::tm tm;
  gmtime_r(&ts.tv_sec, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ts.tv_nsec / 1000000);
  return buf;
}

std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> ParseSections(
    const std::string& text) {
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      sections.emplace_back(line.substr(1, line.size() - 2),
                            std::vector<std::pair<std::string, std::string>>{});
      continue;
    }
    if (sections.empty())
      sections.emplace_back("", std::vector<std::pair<std::string, std::string>>{});
    std::size_t eq = line.find('=');
    if (eq == std::string::npos)
      sections.back().second.emplace_back(line, "");
    else
      sections.back().second.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return sections;
}

const std::vector<Dialect>& Dialects() {
  static const std::vector<Dialect> dialects = {
      {"APIEXE", DecodeApiexe},
      {"APICOM", DecodeApicom},
  };
  return dialects;
}

std::string DecodeDocument(const std::string& body, nlohmann::json& entry) {
  for (const Dialect& dialect : Dialects()) {
    nlohmann::json fields = nlohmann::json::object();
    std::string summary;
    if (dialect.decode(body, fields, summary)) {
      entry["dialect"] = dialect.name;
      entry["fields"] = std::move(fields);
      return summary;
    }
  }
  return {};
}

}  // namespace zentrova::sandbox
