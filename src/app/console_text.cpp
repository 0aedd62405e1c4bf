#include "app/console_text.h"

namespace palvoro {
namespace {

// The length of the well-formed UTF-8 character at `text[at]` and its code point, or 0
// when the bytes there are no such character (a stray continuation byte, a cut sequence,
// an overlong form, a surrogate, beyond U+10FFFF).
size_t utf8Character(std::string_view text, size_t at, char32_t& codePoint) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, least = 0x80, codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, least = 0x800, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, least = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return length;
}

bool isControlOrReordering(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      const bool keep = (c >= 0x20 && c != 0x7F) || c == '\n' || c == '\t';
      out += keep ? static_cast<char>(c) : kUnprintableMark;
      ++at;
      continue;
    }
    char32_t codePoint = 0;
    const size_t length = utf8Character(text, at, codePoint);
    if (length == 0) {
      out += kUnprintableMark;
      ++at;
    } else if (isControlOrReordering(codePoint)) {
      out += kUnprintableMark;
      at += length;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}

PrintableStream::PrintableStream(std::ostream& target) : std::ostream(nullptr), m_buffer(target.rdbuf()) {
  rdbuf(&m_buffer);
}

PrintableStream::~PrintableStream() { flush(); }

PrintableStream::Buffer::int_type PrintableStream::Buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  m_pending += traits_type::to_char_type(c);
  if (c == '\n') pass(m_pending.size());
  return c;
}

std::streamsize PrintableStream::Buffer::xsputn(const char* s, std::streamsize n) {
  m_pending.append(s, static_cast<size_t>(n));
  const size_t lineEnd = m_pending.rfind('\n');
  if (lineEnd != std::string::npos) pass(lineEnd + 1);
  return n;
}

int PrintableStream::Buffer::sync() {
  pass(m_pending.size());
  return m_target->pubsync();
}

void PrintableStream::Buffer::pass(size_t length) {
  const std::string text = printableText(std::string_view(m_pending).substr(0, length));
  m_target->sputn(text.data(), static_cast<std::streamsize>(text.size()));
  m_pending.erase(0, length);
}

std::string jsonText(const nlohmann::ordered_json& document, int indent) {
  return document.dump(indent, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace palvoro
