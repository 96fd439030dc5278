#include "json_report.h"

namespace {

// Length of the valid UTF-8 sequence at `i`, or 0 when the byte there does not start one.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  unsigned minimum;
  unsigned value;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, value = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3Fu);
  }
  // No overlong forms, no surrogates, nothing beyond U+10FFFF.
  if (value < minimum || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else if (const std::size_t length = Utf8SequenceLength(text, i); length == 0) {
          out += "\\ufffd";
        } else {
          out.append(text, i, length);
          i += length;
          continue;
        }
    }
    ++i;
  }
  return out + "\"";
}

void JsonReport::Line(const std::string& fields) {
  std::fprintf(streams_.out, "{%s}\n", fields.c_str());
  std::fflush(streams_.out);
}

void JsonReport::ShowHeader(const std::string& title, const std::string& cornerLabel) {
  std::string fields = "\"type\":\"update\",\"title\":" + JsonString(title);
  if (!cornerLabel.empty()) fields += ",\"label\":" + JsonString(cornerLabel);
  Line(fields);
}

void JsonReport::SetStatusLine(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  Line("\"type\":\"status\",\"text\":" + JsonString(text));
}

void JsonReport::SetGauge(int percent) {
  if (percent == percent_) return;
  percent_ = percent;
  Line("\"type\":\"progress\",\"percent\":" + std::to_string(percent));
}

void JsonReport::ShowMessageForm(const std::string& text, const std::string& title) {
  Line("\"type\":\"message\",\"title\":" + JsonString(title) + ",\"text\":" + JsonString(text));
}

void JsonReport::ShowSystemMessage(const std::string& text, const std::string& title) {
  ShowMessageForm(text, title);
}

bool JsonReport::AskRetry(const std::string& text) {
  bool again = false;
  if (streams_.inIsTerminal) {
    PrintMessage(streams_.err, "Information", text);
    again = AskOkOrCancel(streams_.in, streams_.err);
  }
  Line("\"type\":\"retry\",\"text\":" + JsonString(text) + ",\"answer\":\"" +
       (again ? "ok" : "cancel") + "\"");
  return again;
}

void JsonReport::ShowResult(const std::string& result, int status) {
  Line("\"type\":\"result\",\"result\":" + JsonString(result) +
       ",\"status\":" + std::to_string(status));
}
