#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LinkCommand.h"
#include "app/Options.h"

namespace {

TEST(Recipients, CsvTakesQuotesLineBreaksAndEitherLineEnd) {
  const app::CsvTable t = app::ParseCsv(
      "\xEF\xBB\xBFname,note\r\nAnna,\"Hi, \"\"you\"\"\r\nthere\"\r\n\r\nBoris,\nVera,\"\"\n", "people.csv");
  ASSERT_EQ(t.columns, (std::vector<std::string>{"name", "note"}));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0], (std::vector<std::string>{"Anna", "Hi, \"you\"\r\nthere"}));
  EXPECT_EQ(t.rows[1], (std::vector<std::string>{"Boris", ""}));
  EXPECT_EQ(t.rows[2], (std::vector<std::string>{"Vera", ""}));
  // The empty line still counts, as a spreadsheet counts it.
  EXPECT_EQ(t.rowNumbers, (std::vector<std::size_t>{2, 4, 5}));
  EXPECT_EQ(app::ParseCsv("a", "x.csv").rows.size(), 0u);
}

void ExpectRefused(const std::string& csv, const std::string& message) {
  try {
    app::ParseCsv(csv, "people.csv");
    ADD_FAILURE() << "taken: " << csv;
  } catch (const app::CommandLineError& e) {
    EXPECT_EQ(e.what(), message);
  }
}

TEST(Recipients, CsvThatIsNoTableIsRefusedNamingTheRow) {
  ExpectRefused("", "people.csv: the file has no header row naming its columns");
  ExpectRefused("name,name\n", "people.csv row 1: two columns are named \"name\"");
  ExpectRefused("name,link\n",
                "people.csv row 1: the table already has a column named \"link\", where the links go");
  ExpectRefused("name\nAnna\n\"Bo\n", "people.csv row 3: a quoted field does not end with '\"'");
  ExpectRefused(
      "name\nAn\"na\n",
      "people.csv row 2: a quote inside a field that is not quoted; quote the field and double the quote");
  ExpectRefused("name\n\"Anna\"x\n",
                "people.csv row 2: after a quoted field comes a comma or the line's end");
  ExpectRefused("name\nAnna\rBoris\n", "people.csv row 2: a carriage return without a line feed after it");
  ExpectRefused("name,age\nAnna,3\nBoris\n", "people.csv row 3 has 1 fields; the header row has 2");
  ExpectRefused("name,age\nAnna," + std::string(4001, '7') + "\n",
                "people.csv row 2, column \"age\": a field has more than 4000 bytes");
  std::string many = "name\n";
  for (int i = 0; i < 100'001; ++i) many += "x\n";
  ExpectRefused(many, "people.csv row 100002: more than 100000 rows after the header");
}

TEST(Recipients, FieldsAreQuotedOnlyWhereTheyMustBe) {
  EXPECT_EQ(app::CsvField("Anna"), "Anna");
  EXPECT_EQ(app::CsvField(""), "");
  EXPECT_EQ(app::CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(app::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(app::CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(app::CsvField("cr\r"), "\"cr\r\"");
}

}  // namespace
