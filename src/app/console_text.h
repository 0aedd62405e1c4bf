#pragma once
// What palvoro-cli writes passes through here: texts from outside the program (drive
// texts, volume labels, mount points, file system names, log texts, a result page read
// back) could otherwise carry ESC, BEL or CR to the user's terminal and rewrite what the
// user reads before answering a question, and a byte that is not UTF-8 would stop the JSON
// writer halfway through its answer.

#include <nlohmann/json.hpp>

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace palvoro {

// What a character that must not reach the terminal becomes.
inline constexpr char kUnprintableMark = '?';

// `text` as it may reach a terminal: line feed and tab stay; every other C0 control
// character, DEL, the C1 controls (U+0080..U+009F), the characters that reorder text
// (U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and each byte that is not part of a
// well-formed UTF-8 character become kUnprintableMark. Printable UTF-8 stays as it is.
std::string printableText(std::string_view text);

// A stream whose every line passes through printableText on its way to `target`. Lines go
// out as they end and on flush, so what it writes keeps its order among what others write
// to `target` directly.
class PrintableStream : public std::ostream {
 public:
  explicit PrintableStream(std::ostream& target);
  ~PrintableStream() override;
  PrintableStream(const PrintableStream&) = delete;
  PrintableStream& operator=(const PrintableStream&) = delete;

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(std::streambuf* target) : m_target(target) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

   private:
    void pass(size_t length);  // the first `length` pending bytes, filtered, to the target
    std::streambuf* m_target;
    std::string m_pending;
  };
  Buffer m_buffer;
};

// A JSON document as palvoro-cli writes it: never throws, whatever its strings hold (a
// byte that is not UTF-8 becomes U+FFFD), and printable ASCII only (everything else as
// \uXXXX). `indent` as nlohmann::json::dump takes it (-1: one line).
std::string jsonText(const nlohmann::ordered_json& document, int indent = -1);

}  // namespace palvoro
