#pragma once
// The hybrid-drive compliance table: an XML document carried inside the program
// (resources/compliance_table.xml) whose Model rows list the maker's hybrid model numbers
// as patterns. A drive whose model matches a row has its capacity split between its two
// units by the dual-unit check (discovery/dual_unit.h). Only the ModelMatch pattern of a
// row is consulted; the other elements travel with the document unread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
}

namespace palvoro {

// The document as the program carries it, generated from the resource file at build time.
std::span<const uint8_t> embeddedComplianceDocument();

// One parsed table. The application context owns one for the program run; a test builds
// its own from whatever bytes it likes. Until a load succeeds there is no table, and no
// model matches. It is not copied: the parsed tree is its own.
class ComplianceTable {
 public:
  ComplianceTable();
  ~ComplianceTable();

  // Parses `size` bytes of a document when no table is loaded; a table already loaded is
  // kept. A document that does not parse leaves no table. Returns whether a table is
  // loaded afterwards.
  [[nodiscard]] bool loadFromBytes(const uint8_t* data, size_t size);
  // The same with the embedded document.
  [[nodiscard]] bool loadEmbedded();
  // Releases the table; afterwards nothing matches.
  void clear();
  bool loaded() const { return m_document != nullptr; }

  // Whether `model` (a drive's model text) matches the ModelMatch pattern of any Model
  // row, after the "VHT " rule of modelForCompliance.
  [[nodiscard]] bool matches(std::string_view model) const;

 private:
  // The parser works in place, so it gets a writable copy that lives as long as the tree.
  std::vector<char> m_text;
  std::unique_ptr<pugi::xml_document> m_document;
};

// Start-up and exit: load the embedded document into `table` (when it holds none yet) and
// release it again.
[[nodiscard]] bool loadComplianceTable(ComplianceTable& table);
void freeComplianceTable(ComplianceTable& table);
// Whether `model` matches a row of `table`; false when there is no table.
[[nodiscard]] bool complianceMatch(const ComplianceTable* table, std::string_view model);

// The maker reports its drives as "VHT " followed by the model number the patterns
// describe: a model holding "VHT " anywhere loses its first four characters.
std::string_view modelForCompliance(std::string_view model);
// The pattern rule: model and pattern are walked together; the walk ends with a match
// when the model ends, the pattern ends or the pattern holds '*'. '%' matches any one
// character, any other pattern character only itself (case matters).
[[nodiscard]] bool modelMatchesPattern(std::string_view model, std::string_view pattern);

}  // namespace palvoro
