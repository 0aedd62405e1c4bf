#include "discovery/compliance_table.h"

#include <gtest/gtest.h>

#include "support/case_name.h"
#include <pugixml.hpp>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;


// A table parsed from `document`; the test fails when it does not load.
class TableFrom {
 public:
  explicit TableFrom(const std::string& document) {
    loaded = table.loadFromBytes(reinterpret_cast<const uint8_t*>(document.data()), document.size());
  }
  ComplianceTable table;
  bool loaded = false;
};

std::string document(const std::string& rows, const std::string& encoding = "ISO-8859-1") {
  return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<ComplianceTable>\n" + rows +
         "</ComplianceTable>\n";
}

std::string row(const std::string& pattern) {
  return "  <Model>\n    <ModelMatch>" + pattern + "</ModelMatch>\n    <FWMatch>%%.%%%%%</FWMatch>\n  </Model>\n";
}

// ---------------------------------------------------------------------------------
// The pattern rule.

struct PatternCase {
  const char* name;
  std::string model;
  std::string pattern;
  bool matches;
};

class PatternRuleTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(PatternRuleTest, WalksModelAndPatternTogether) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(modelMatchesPattern(c.model, c.pattern), c.matches) << c.model << " / " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternRuleTest,
    ::testing::Values(
        PatternCase{"SameText", "VHH7S100516A", "VHH7S100516A", true},
        // An 18-character pattern and a 20-character model whose first 18 fit.
        PatternCase{"EighteenOfTwenty", "VHH7S100516A2B10K1JP", "VHH7S100516A%%%%%1", true},
        PatternCase{"EighteenOfTwentyLastFixedDiffers", "VHH7S100516A2B10K2JP", "VHH7S100516A%%%%%1", false},
        PatternCase{"FirstCharacterDiffers", "WHH7S100516A2B10K1JP", "VHH7S100516A%%%%%1", false},
        PatternCase{"PercentTakesAnyCharacter", "VHH7S100516A -.z#1", "VHH7S100516A%%%%%1", true},
        PatternCase{"PercentTakesOneCharacterOnly", "VHH7S100516A2B10K01", "VHH7S100516A%%%%%1", false},
        // A model that is itself a matching beginning of the pattern.
        PatternCase{"ModelEndsInsideFixedPart", "VHH7S1", "VHH7S100516A%%%%%1", true},
        PatternCase{"ModelEndsInsideWildcards", "VHH7S100516A2B", "VHH7S100516A%%%%%1", true},
        PatternCase{"ShortModelThatDiffers", "VHH7X1", "VHH7S100516A%%%%%1", false},
        PatternCase{"AsteriskEndsTheWalk", "VHH7S100516A2B10K9", "VHH7S1005*6A%%%%%1", true},
        PatternCase{"DifferenceBeforeAsterisk", "VHH9S100516A2B10K1", "VHH7*", false},
        PatternCase{"AsteriskFirstMatchesAnything", "ABC", "*VHH", true},
        PatternCase{"LowerCaseModel", "vhh7s100516a2b10k1", "VHH7S100516A%%%%%1", false},
        PatternCase{"LowerCasePattern", "VHH7S100516A2B10K1", "VHH7s100516A%%%%%1", false},
        PatternCase{"PercentInModelIsAnOrdinaryCharacter", "VH%", "VHH", false}),
    caseName<PatternCase>);

struct PrefixCase {
  const char* name;
  std::string model;
  std::string compared;
};

class VhtPrefixTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(VhtPrefixTest, DropsFirstFourCharactersWhenVhtSpaceAppears) {
  const PrefixCase& c = GetParam();
  EXPECT_EQ(std::string(modelForCompliance(c.model)), c.compared);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VhtPrefixTest,
    ::testing::Values(PrefixCase{"AtTheStart", "VHT VHH7S100516A2B10K1", "VHH7S100516A2B10K1"},
                      // Anywhere in the text, but the first four characters are dropped.
                      PrefixCase{"FurtherIn", "XYZ VHT VHH7", "VHT VHH7"},
                      PrefixCase{"WithoutTheSpace", "VHTVHH7S1", "VHTVHH7S1"},
                      PrefixCase{"LowerCase", "vht VHH7S1", "vht VHH7S1"},
                      PrefixCase{"AloneIsEmptied", "VHT ", ""},
                      PrefixCase{"OtherMaker", "ACME 7K1000", "ACME 7K1000"}),
    caseName<PrefixCase>);

// ---------------------------------------------------------------------------------
// Matching against a parsed table.

TEST(ComplianceMatchTest, ComparesTheModelWithoutItsVhtPrefix) {
  TableFrom t(document(row("VHH7S100516A%%%%%1")));
  ASSERT_TRUE(t.loaded);
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHH7S100516A2B10K1JP"));
  EXPECT_TRUE(complianceMatch(&t.table, "VHH7S100516A2B10K1JP"));
  // Without the drop "VHT VHH7..." would be compared with the pattern as it stands.
  EXPECT_FALSE(complianceMatch(&t.table, "VHTVHH7S100516A2B10K1JP"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHH7S100524A2B10K1JP"));
}

TEST(ComplianceMatchTest, NoTableMatchesNothing) {
  EXPECT_FALSE(complianceMatch(nullptr, "VHT VHH7S100516A2B10K1JP"));
  ComplianceTable empty;
  EXPECT_FALSE(empty.loaded());
  EXPECT_FALSE(complianceMatch(&empty, "VHT VHH7S100516A2B10K1JP"));
  // Not even the empty model, which every pattern would take as a matching beginning.
  EXPECT_FALSE(complianceMatch(&empty, ""));
}

TEST(ComplianceMatchTest, VisitsEveryModelRowInDocumentOrder) {
  // Other elements between the rows do not end the walk over the Model siblings.
  TableFrom t(document("<Revision>1.4</Revision>" + row("VHHA") + "<ModelCount>3</ModelCount>" + row("VHHB") +
                       "<!-- a comment -->" + row("VHHC")));
  ASSERT_TRUE(t.loaded);
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHHA"));
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHHB"));
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHHC"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHHD"));
}

TEST(ComplianceMatchTest, RowWithoutModelMatchIsPassedOver) {
  // Taken as an empty pattern, the first row would match every model.
  TableFrom t(document("  <Model><FWMatch>%%.%%%%%</FWMatch><HybridType>BS</HybridType></Model>\n" + row("VHHB")));
  ASSERT_TRUE(t.loaded);
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHHB1"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHHA1"));
  EXPECT_FALSE(complianceMatch(&t.table, "ACME 7K1000"));

  TableFrom onlyEmptyRows(document("<Model/><Model></Model>"));
  ASSERT_TRUE(onlyEmptyRows.loaded);
  EXPECT_FALSE(complianceMatch(&onlyEmptyRows.table, "VHT VHHB1"));
}

TEST(ComplianceMatchTest, OnlyTheRootsOwnModelChildrenCount) {
  TableFrom t(document("<Group>" + row("VHHA") + "</Group><Model><Inner><ModelMatch>VHHB</ModelMatch></Inner></Model>" +
                       row("VHHC")));
  ASSERT_TRUE(t.loaded);
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHHA"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHHB"));
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHHC"));
}

TEST(ComplianceMatchTest, PatternIsTheElementsWholeText) {
  TableFrom t(document("<Model><ModelMatch><![CDATA[VHH]]>5<!-- note -->S</ModelMatch></Model>"));
  ASSERT_TRUE(t.loaded);
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHH5S0"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHH5E0"));
}

TEST(ComplianceMatchTest, LatinOneBytesAreComparedAsTheyStand) {
  // A drive's model is single-byte text: the byte C9h in the pattern must meet C9h in the
  // model, not the two bytes a conversion to UTF-8 would make of it.
  TableFrom t(document(row("VH\xC9%1")));
  ASSERT_TRUE(t.loaded);
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VH\xC9X1"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VH\xC3\x89X1"));
}

TEST(ComplianceMatchTest, ManyRowsAreAllVisited) {
  std::string rows;
  for (int i = 0; i < 100'000; ++i) rows += "<Model><ModelMatch>VHQ" + std::to_string(i) + "Z</ModelMatch></Model>\n";
  TableFrom t(document(rows));
  ASSERT_TRUE(t.loaded);
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHQ99999Z"));
  EXPECT_TRUE(complianceMatch(&t.table, "VHT VHQ0Z"));
  EXPECT_FALSE(complianceMatch(&t.table, "VHT VHQ100000Z"));
}

// ---------------------------------------------------------------------------------
// Documents that are not a table.

struct DocumentCase {
  const char* name;
  std::string bytes;
  bool loads;
};

std::string utf16le(const std::string& text) {
  std::string out = "\xFF\xFE";
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string deeplyNested(int depth) {
  std::string text = "<ComplianceTable>";
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text + row("VHHA") + "</ComplianceTable>";
}

class MalformedDocumentTest : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(MalformedDocumentTest, LeavesNoTableOrReadsWhatItCan) {
  const DocumentCase& c = GetParam();
  ComplianceTable table;
  EXPECT_EQ(table.loadFromBytes(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.loads);
  EXPECT_EQ(table.loaded(), c.loads);
  // A failed load matches nothing, not even the model every pattern would take.
  if (!c.loads) {
    EXPECT_FALSE(complianceMatch(&table, ""));
    EXPECT_FALSE(complianceMatch(&table, "VHT VHHA"));
  } else {
    EXPECT_TRUE(complianceMatch(&table, "VHT VHHA"));
  }
}

const std::string kTableText = document(row("VHHA"));

INSTANTIATE_TEST_SUITE_P(
    Documents, MalformedDocumentTest,
    ::testing::Values(
        DocumentCase{"Empty", "", false},
        DocumentCase{"TruncatedInsideARow", kTableText.substr(0, kTableText.find("</ModelMatch>")), false},
        DocumentCase{"TruncatedBeforeTheRootCloses", kTableText.substr(0, kTableText.size() - 4), false},
        DocumentCase{"DeclarationOnly", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", false},
        DocumentCase{"PlainText", "VHH7S100516A%%%%%1\n", false},
        DocumentCase{"BinaryBytes", std::string("\x00\x01\xFE\xFF\x7F<\x00>", 8), false},
        DocumentCase{"MismatchedElements", "<ComplianceTable><Model></ComplianceTable></Model>", false},
        // The text is read byte for byte whatever its declaration says.
        DocumentCase{"DeclaresUtf16ButIsSingleByte", document(row("VHHA"), "UTF-16"), true},
        DocumentCase{"DeclaresAnUnknownEncoding", document(row("VHHA"), "X-NO-SUCH"), true},
        // Two bytes a character cannot be read as single-byte text.
        DocumentCase{"WrittenInUtf16", utf16le(kTableText), false},
        DocumentCase{"DeeplyNested", deeplyNested(100'000), true}),
    caseName<DocumentCase>);

TEST(ComplianceTableLifetimeTest, FailedLoadCanBeFollowedByAGoodOne) {
  ComplianceTable table;
  const std::string bad = "<ComplianceTable><Model>";
  EXPECT_FALSE(table.loadFromBytes(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()));
  EXPECT_TRUE(table.loadFromBytes(reinterpret_cast<const uint8_t*>(kTableText.data()), kTableText.size()));
  EXPECT_TRUE(complianceMatch(&table, "VHT VHHA"));
}

TEST(ComplianceTableLifetimeTest, LoadedTableIsKeptUntilFreed) {
  ComplianceTable table;
  ASSERT_TRUE(loadComplianceTable(table));
  // A second load while a table is held changes nothing.
  const std::string other = document(row("VHHZ"));
  EXPECT_TRUE(table.loadFromBytes(reinterpret_cast<const uint8_t*>(other.data()), other.size()));
  EXPECT_FALSE(complianceMatch(&table, "VHT VHHZ"));
  EXPECT_TRUE(complianceMatch(&table, "VHT VHH7S100516A2B10K1JP"));

  freeComplianceTable(table);
  EXPECT_FALSE(table.loaded());
  EXPECT_FALSE(complianceMatch(&table, "VHT VHH7S100516A2B10K1JP"));
  ASSERT_TRUE(loadComplianceTable(table));
  EXPECT_TRUE(complianceMatch(&table, "VHT VHH7S100516A2B10K1JP"));
}

TEST(ComplianceTableLifetimeTest, ParsesACopyAndNotTheCallersBytes) {
  std::string text = kTableText;
  const std::string before = text;
  ComplianceTable table;
  ASSERT_TRUE(table.loadFromBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  EXPECT_EQ(text, before);
  // The table does not depend on the caller's buffer after the load.
  text.assign(text.size(), 'x');
  EXPECT_TRUE(complianceMatch(&table, "VHT VHHA"));
}

// ---------------------------------------------------------------------------------
// The document the program carries, read independently of the table's own walk.

const std::map<std::string, int> kPartitionSizeByCache = {
    {"8 GB cache", 15645104}, {"16 GB cache", 31273136}, {"24 GB cache", 46901168}, {"32 GB cache", 62529200}};

class EmbeddedDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::span<const uint8_t> bytes = embeddedComplianceDocument();
    text.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const pugi::xml_parse_result result = doc.load_buffer(
        text.data(), text.size(), pugi::parse_default | pugi::parse_comments | pugi::parse_declaration,
        pugi::encoding_utf8);
    ASSERT_TRUE(result) << result.description();
    root = doc.document_element();
  }
  std::string text;
  pugi::xml_document doc;
  pugi::xml_node root;
};

TEST_F(EmbeddedDocumentTest, DeclaresXml10InLatinOne) {
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  EXPECT_EQ(text.substr(0, declaration.size()), declaration);
  // Plain ASCII reads the same in Latin-1 and in UTF-8, whichever way a tool opens it.
  size_t outside = 0;
  for (unsigned char c : text) outside += c >= 0x80 ? 1 : 0;
  EXPECT_EQ(outside, 0u);
}

TEST_F(EmbeddedDocumentTest, HeaderValues) {
  EXPECT_STREQ(root.name(), "ComplianceTable");
  EXPECT_STREQ(root.child_value("Revision"), "1.4");
  EXPECT_STREQ(root.child_value("ModelPrefix"), "VHT%");
  EXPECT_STREQ(root.child_value("ModelCount"), "56");
  int rows = 0;
  for (pugi::xml_node m = root.child("Model"); m; m = m.next_sibling("Model")) ++rows;
  EXPECT_EQ(rows, 56);
  // The rows are the root's only repeated element.
  int elements = 0;
  for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element) ++elements;
  }
  EXPECT_EQ(elements, 3 + 56);
}

TEST_F(EmbeddedDocumentTest, EveryRowCarriesTheFixedValues) {
  const std::vector<std::string> order = {"ModelMatch",    "FWMatch",       "HybridType",
                                          "PartitionOffset", "PartitionSize", "CacheAttributes"};
  const std::set<std::string> sizes = {"15645104", "31273136", "46901168", "62529200"};
  for (pugi::xml_node m = root.child("Model"); m; m = m.next_sibling("Model")) {
    std::vector<std::string> names;
    for (pugi::xml_node c = m.first_child(); c; c = c.next_sibling()) names.push_back(c.name());
    EXPECT_EQ(names, order) << m.child_value("ModelMatch");
    EXPECT_STREQ(m.child_value("FWMatch"), "%%.%%%%%");
    EXPECT_STREQ(m.child_value("HybridType"), "BS");
    EXPECT_STREQ(m.child_value("PartitionOffset"), "0");
    EXPECT_EQ(sizes.count(m.child_value("PartitionSize")), 1u) << m.child_value("PartitionSize");
    EXPECT_STREQ(m.child_value("CacheAttributes"), "1234567890123456");
  }
}

TEST_F(EmbeddedDocumentTest, EachRowFollowsACommentThatDescribesIt) {
  std::map<std::string, int> perCache;
  int twoAndHalfInch = 0;
  int edgeConnector = 0;
  int threeAndHalfInch = 0;
  for (pugi::xml_node m = root.child("Model"); m; m = m.next_sibling("Model")) {
    const pugi::xml_node comment = m.previous_sibling();
    ASSERT_EQ(comment.type(), pugi::node_comment) << m.child_value("ModelMatch");
    const std::string says = comment.value();
    const std::string pattern = m.child_value("ModelMatch");
    EXPECT_NE(says.find("-inch"), std::string::npos) << says;
    EXPECT_NE(says.find("connector"), std::string::npos) << says;
    EXPECT_NE(says.find(" class"), std::string::npos) << says;
    EXPECT_NE(says.find("over-provisioning"), std::string::npos) << says;
    int named = 0;
    for (const auto& [cache, size] : kPartitionSizeByCache) {
      if (says.find(", " + cache) == std::string::npos) continue;
      ++named;
      ++perCache[cache];
      EXPECT_EQ(m.child_value("PartitionSize"), std::to_string(size)) << says;
    }
    EXPECT_EQ(named, 1) << says;
    if (says.find("2.5-inch") != std::string::npos) ++twoAndHalfInch;
    if (says.find("3.5-inch") != std::string::npos) ++threeAndHalfInch;
    if (says.find("SFF-8083") != std::string::npos) {
      ++edgeConnector;
      EXPECT_NE(says.find("2.5-inch"), std::string::npos) << says;
    }
  }
  EXPECT_EQ(twoAndHalfInch, 24);
  EXPECT_EQ(edgeConnector, 12);
  EXPECT_EQ(threeAndHalfInch, 32);
  for (const auto& [cache, size] : kPartitionSizeByCache) EXPECT_EQ(perCache[cache], 14) << cache;
}

TEST_F(EmbeddedDocumentTest, PatternsAreTheMakersAndDistinct) {
  std::set<std::string> seen;
  for (pugi::xml_node m = root.child("Model"); m; m = m.next_sibling("Model")) {
    const std::string pattern = m.child_value("ModelMatch");
    EXPECT_EQ(pattern.substr(0, 2), "VH") << pattern;
    EXPECT_NE(pattern.find('%'), std::string::npos) << pattern;
    for (char c : pattern) {
      EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '%') << pattern;
    }
    EXPECT_TRUE(seen.insert(pattern).second) << "repeated " << pattern;
  }
}

TEST_F(EmbeddedDocumentTest, LoadsAndMatchesAModelOfEveryRow) {
  ComplianceTable table;
  ASSERT_TRUE(loadComplianceTable(table));
  for (pugi::xml_node m = root.child("Model"); m; m = m.next_sibling("Model")) {
    std::string model = m.child_value("ModelMatch");
    for (char& c : model) {
      if (c == '%') c = '7';
    }
    EXPECT_TRUE(complianceMatch(&table, "VHT " + model + "JP")) << model;
  }
  // The maker's solid-state drives and other makers' drives are not hybrid drives.
  EXPECT_FALSE(complianceMatch(&table, "VHT VHS7S100A2B10K1JP"));
  EXPECT_FALSE(complianceMatch(&table, "ACME 7K1000 SATA"));
  EXPECT_FALSE(complianceMatch(&table, "VHT VHH7S100516B2B10K1JP"));
}

}  // namespace
}  // namespace palvoro
