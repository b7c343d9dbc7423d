// AT command interpretation of a simulated modem port.
#include "sim/at_modem.h"

#include <algorithm>
#include <string_view>

#include "foundation/text.h"

namespace vornex::sim {
namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr std::string_view kOk = "\r\nOK\r\n";
constexpr std::string_view kError = "\r\nERROR\r\n";
constexpr std::string_view kCmeError = "\r\n+CME ERROR: 10\r\n";
constexpr std::string_view kUnsolicited = "\r\n+CREG: 1\r\n";
constexpr std::string_view kBlankLine = "\r\n";

std::string ValueReply(std::string_view name, std::string_view value) {
  std::string reply = "\r\n+";
  reply.append(name);
  reply.append(": ");
  reply.append(value);
  reply.append("\r\n");
  reply.append(kOk);
  return reply;
}

}  // namespace

void TAtModem::Reboot() {
  line_.clear();
  overflow_ = false;
  echo_ = true;
}

TByteVector TAtModem::Feed(const std::uint8_t* bytes, std::size_t length) {
  TByteVector out;
  for (std::size_t i = 0; bytes != nullptr && i < length; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c == kLineFeed) continue;
    if (c == kCarriageReturn) {
      Answer(line_, &out);
      line_.clear();
      overflow_ = false;
      continue;
    }
    if (line_.size() < kAtLineLimitBytes) {
      line_.push_back(c);
    } else {
      overflow_ = true;
    }
  }
  return out;
}

void TAtModem::Answer(const std::string& line, TByteVector* out) {
  if (echo_) {
    out->insert(out->end(), line.begin(), line.end());
    out->push_back(static_cast<std::uint8_t>(kCarriageReturn));
  }
  if (line.empty()) return;  // an empty line gets no result code
  const std::string reply = Styled(overflow_ ? std::string(kError) : Reply(line));
  out->insert(out->end(), reply.begin(), reply.end());
}

std::string TAtModem::Reply(const std::string& line) {
  const std::size_t equals = line.find('=');
  const std::string command = ToUpperAscii(line.substr(0, equals));
  const bool write = equals != std::string::npos;
  const std::string value = write ? line.substr(equals + 1) : std::string();

  if (command.rfind("AT", 0) != 0) {
    model_.Count("unknown");
    return std::string(kError);
  }
  if (Refused(command)) {
    model_.Count("refused:" + command + (write ? "=" : ""));
    return std::string(kError);
  }
  const std::string body = command.substr(2);

  // Plain commands.
  if (!write && (body.empty() || body == "E" || body == "E0" || body == "E1")) {
    model_.Count(command);
    if (body == "E" || body == "E0") echo_ = false;
    if (body == "E1") echo_ = true;
    return std::string(kOk);
  }
  // Identity values and settings: "+NAME" reads (also "+NAME?"), "+NAME=value" writes.
  std::string name = body.rfind('+', 0) == 0 ? body.substr(1) : std::string();
  if (name.empty()) {
    model_.Count("unknown");
    return std::string(kError);
  }
  if (!write && name.back() == '?') name.pop_back();
  if (name != "NEWSN" && name != "NEWMEID" && name != "MDTFLAG" && name != "MDVER" &&
      name != "MDPARA") {
    model_.Count("unknown");
    return std::string(kError);
  }
  model_.Count("AT+" + name + (write ? "=" : ""));

  std::string* identity = nullptr;
  if (name == "NEWSN") identity = &model_.identity.serialNumber;
  if (name == "NEWMEID") identity = &model_.identity.meid;
  if (name == "MDTFLAG") identity = &model_.identity.testFlag;
  if (identity != nullptr) {
    if (!write) return ValueReply(name, *identity);
    if (faults_ != nullptr && faults_->atWritesFail) return std::string(kError);
    *identity = value;
    return std::string(kOk);
  }
  if (name == "MDVER" && !write) return ValueReply(name, model_.firmwareVersion);
  if (name == "MDPARA") {
    if (!write) return ValueReply(name, model_.diagInterfaceOn ? "DIAG,ON" : "DIAG,OFF");
    const std::string setting = ToUpperAscii(value);
    if (setting == "DIAG,ON" || setting == "DIAG,OFF") {
      model_.diagInterfaceOn = setting == "DIAG,ON";
      return std::string(kOk);
    }
  }
  return std::string(kError);
}

std::string TAtModem::Styled(std::string reply) const {
  const TAtReplyStyle style = faults_ != nullptr ? faults_->atReplyStyle : TAtReplyStyle::kPlain;
  switch (style) {
    case TAtReplyStyle::kPlain:
      break;
    case TAtReplyStyle::kCmeErrors:
      if (reply == kError) reply = kCmeError;
      break;
    case TAtReplyStyle::kUnsolicitedAfterOk:
      reply += kUnsolicited;
      break;
    case TAtReplyStyle::kCrOnly:
      std::erase(reply, kLineFeed);
      break;
    case TAtReplyStyle::kBlankAfterOk:
      reply += kBlankLine;
      break;
  }
  return reply;
}

bool TAtModem::Refused(std::string_view command) const {
  if (faults_ == nullptr) return false;
  return std::any_of(
      faults_->atRefused.begin(), faults_->atRefused.end(),
      [command](const std::string& refused) { return EqualsNoCase(refused, command); });
}

}  // namespace vornex::sim
