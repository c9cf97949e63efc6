#include "app/LinkCommand.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "app/Bundles.h"
#include "app/Card.h"
#include "app/Options.h"
#include "app/ShareLink.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/Texture.h"
#include "render/Framing.h"
#include "render/modGen.h"

namespace app {

namespace {

namespace fs = std::filesystem;

std::string inQuotes(const std::string& s) {
  return "\"" + s + "\"";
}

std::string joined(const std::vector<std::string>& items, const std::string& between) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "" : between) + items[i];
  return out;
}

// The name of the choice of `kind` that `option` asks for; refused with the names there are.
std::string choiceName(const std::string& option, const char* kind, const std::vector<MediaChoice>& offered,
                       const std::string& name) {
  if (name.empty() || FindChoice(offered, name)) return name;
  std::vector<std::string> names;
  for (const MediaChoice& c : offered) names.push_back(c.name);
  throw CommandLineError(option + ": the page offers no " + kind + " named " + inQuotes(name) + "; it has " +
                         joined(names, ", "));
}

// A text with {column} placeholders: literal pieces and the columns filled in between them.
struct Template {
  struct Piece {
    std::string literal;
    int column = -1;  // the column whose value follows the literal, or -1
  };
  std::vector<Piece> pieces;
  bool Plain() const { return pieces.size() == 1 && pieces[0].column < 0; }
};

Template parseTemplate(const std::string& option, const std::string& text, const CsvTable* table,
                       const std::string& file) {
  Template t;
  t.pieces.emplace_back();
  if (!table) {
    t.pieces.back().literal = text;
    return t;
  }
  std::size_t character = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    character += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    const char c = text[i];
    const bool doubled = i + 1 < text.size() && text[i + 1] == c;
    if ((c == '{' || c == '}') && doubled) {
      t.pieces.back().literal += c;
      ++i;
      ++character;
    } else if (c == '}') {
      throw CommandLineError(option + ": a lone '}' at character " + std::to_string(character) +
                             "; write }} for a brace");
    } else if (c == '{') {
      const std::size_t close = text.find_first_of("{}", i + 1);
      if (close == std::string::npos || text[close] != '}')
        throw CommandLineError(option + ": the '{' at character " + std::to_string(character) +
                               " does not close with '}'; write {{ for a brace");
      const std::string name = text.substr(i + 1, close - i - 1);
      const auto at = std::find(table->columns.begin(), table->columns.end(), name);
      if (at == table->columns.end())
        throw CommandLineError(option + ": " + file + " has no column " + inQuotes(name) +
                               " (its columns: " + joined(table->columns, ", ") + ")");
      t.pieces.back().column = static_cast<int>(at - table->columns.begin());
      t.pieces.emplace_back();
      for (std::size_t k = i + 1; k <= close; ++k)
        character += (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80;
      i = close;
    } else {
      t.pieces.back().literal += c;
    }
  }
  return t;
}

std::string fill(const Template& t, const std::vector<std::string>& row, std::vector<int>& used) {
  std::string out;
  for (const Template::Piece& p : t.pieces) {
    out += p.literal;
    if (p.column < 0) continue;
    out += row[static_cast<std::size_t>(p.column)];
    if (std::find(used.begin(), used.end(), p.column) == used.end()) used.push_back(p.column);
  }
  return out;
}

// The checks a link's text passes: what a link may carry, and fitting the picture as the desktop
// lays it out. Layouts are remembered, as most rows of a table share most texts.
class TextCheck {
 public:
  // Why `text` cannot be the greeting (or a credit line), beginning with `subject`; empty when it can.
  std::string Problem(const std::string& subject, const std::string& text, bool greeting) {
    if (const std::string problem = LinkTextProblem(text); !problem.empty()) return subject + " " + problem;
    const std::string key = (greeting ? "g" : "c") + text;
    auto known = fits_.find(key);
    if (known == fits_.end()) {
      if (!measure_) measure_ = std::make_unique<d3dx::TextMeasure>(render::TextFontSource().hFont());
      const PlacedLine placed = greeting ? PlaceLineInFrame(*measure_, text, kGreetingX, kGreetingY, picture_)
                                         : PlaceLineInFrame(*measure_, text, kCreditX, kCreditY, picture_);
      known = fits_.emplace(key, placed.problem).first;
    }
    return known->second.empty() ? std::string() : subject + ": " + known->second;
  }

 private:
  std::unique_ptr<d3dx::TextMeasure> measure_;
  render::Framing picture_;
  std::unordered_map<std::string, std::string> fits_;
};

// The texts the command line gives: the greeting (the built-in one when only credit lines are
// given) and the credit lines, with the options they came from.
struct Texts {
  bool carried = false;
  std::vector<Template> templates;  // the greeting, then the credit lines
  std::vector<std::string> options;
};

Texts textsOf(const Options& o, const std::string& appFolder, const CsvTable* table) {
  Texts t;
  t.carried = o.greeting || !o.credits.empty() || o.noCredits;
  if (!t.carried) return t;
  if (o.credits.size() > kMaxCreditLines)
    throw CommandLineError("--credit: at most " + std::to_string(kMaxCreditLines) + " credit lines, not " +
                           std::to_string(o.credits.size()));
  const std::string file = table ? o.recipients : "";
  t.options.push_back("--greeting");
  t.templates.push_back(o.greeting
                            ? parseTemplate("--greeting", *o.greeting, table, file)
                            : parseTemplate("--greeting", DefaultCard(appFolder).greeting.text, nullptr, ""));
  for (std::size_t i = 0; i < o.credits.size(); ++i) {
    t.options.push_back("--credit " + std::to_string(i + 1));
    t.templates.push_back(parseTemplate(t.options.back(), o.credits[i], table, file));
  }
  return t;
}

std::string readRecipients(const std::string& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) throw CommandLineError("--recipients: there is no file " + file);
  const std::uintmax_t size = fs::file_size(file, ec);
  if (!ec && size > kMaxRecipientsBytes)
    throw CommandLineError("--recipients " + file + ": the file has " + std::to_string(size) +
                           " bytes; at most " + std::to_string(kMaxRecipientsBytes) + " are read");
  std::vector<std::uint8_t> bytes;
  try {
    bytes = d3dx::ReadFile("--recipients", file);
  } catch (const std::exception& e) {
    throw CommandLineError(e.what());
  }
  std::string text(bytes.begin(), bytes.end());
  // The file may have grown since its size was read.
  if (text.size() > kMaxRecipientsBytes)
    throw CommandLineError("--recipients " + file + ": the file is larger than " +
                           std::to_string(kMaxRecipientsBytes) + " bytes");
  return text;
}

// The column(s) a row's refusal names: the first filled-in value that is itself no text a link may
// carry, else every column the text takes.
std::string blamed(const CsvTable& table, const std::vector<std::string>& row, const std::vector<int>& used) {
  for (const int c : used)
    if (!LinkTextProblem(row[static_cast<std::size_t>(c)]).empty())
      return ", column " + inQuotes(table.columns[static_cast<std::size_t>(c)]);
  std::vector<std::string> names;
  for (const int c : used) names.push_back(inQuotes(table.columns[static_cast<std::size_t>(c)]));
  if (names.empty()) return "";
  return (names.size() == 1 ? ", column " : ", columns ") + joined(names, ", ");
}

void fillCard(LinkCard& card, const Texts& texts, const std::vector<std::string>& row,
              std::vector<int>& used) {
  card.texts = texts.carried;
  card.greeting.reset();
  card.credits.clear();
  for (std::size_t i = 0; i < texts.templates.size(); ++i) {
    std::string text = fill(texts.templates[i], row, used);
    if (i == 0)
      card.greeting = std::move(text);
    else
      card.credits.push_back(std::move(text));
  }
}

std::string subjectOf(std::size_t text) {
  return text == 0 ? "the greeting" : "credit line " + std::to_string(text);
}

}  // namespace

CsvTable ParseCsv(const std::string& input, const std::string& name) {
  std::string_view text(input);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  CsvTable table;
  bool header = true;
  const std::size_t n = text.size();
  std::size_t i = 0;
  for (std::size_t row = 1; i < n; ++row) {
    const auto refuse = [&](const std::string& why) {
      throw CommandLineError(name + " row " + std::to_string(row) + why);
    };
    std::vector<std::string> record;
    bool blank = true;
    for (;;) {
      std::string field;
      const auto add = [&](char c) {
        field += c;
        if (field.size() > kMaxRecipientsFieldBytes) {
          const std::string column = !header && record.size() < table.columns.size()
                                         ? ", column " + inQuotes(table.columns[record.size()])
                                         : "";
          refuse(column + ": a field has more than " + std::to_string(kMaxRecipientsFieldBytes) + " bytes");
        }
      };
      if (i < n && text[i] == '"') {
        blank = false;
        for (++i;; ++i) {
          if (i >= n) refuse(": a quoted field does not end with '\"'");
          if (text[i] == '"') {
            if (i + 1 < n && text[i + 1] == '"') {
              add('"');
              ++i;
              continue;
            }
            ++i;
            break;
          }
          add(text[i]);
        }
      } else {
        for (; i < n && text[i] != ',' && text[i] != '\n' && text[i] != '\r'; ++i) {
          if (text[i] == '"')
            refuse(": a quote inside a field that is not quoted; quote the field and double the quote");
          add(text[i]);
        }
      }
      if (!field.empty()) blank = false;
      record.push_back(std::move(field));
      if (i >= n) break;
      if (text[i] == ',') {
        blank = false;
        ++i;
        continue;
      }
      if (text[i] == '\n' || (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')) {
        i += text[i] == '\r' ? 2 : 1;
        break;
      }
      refuse(text[i] == '\r' ? ": a carriage return without a line feed after it"
                             : ": after a quoted field comes a comma or the line's end");
    }
    if (blank) continue;
    if (header) {
      for (const std::string& column : record) {
        if (std::count(record.begin(), record.end(), column) > 1)
          refuse(": two columns are named " + inQuotes(column));
        if (column == "link") refuse(": the table already has a column named \"link\", where the links go");
      }
      table.columns = std::move(record);
      header = false;
      continue;
    }
    if (record.size() != table.columns.size())
      refuse(" has " + std::to_string(record.size()) + " fields; the header row has " +
             std::to_string(table.columns.size()));
    if (table.rows.size() == kMaxRecipientsRows)
      refuse(": more than " + std::to_string(kMaxRecipientsRows) + " rows after the header");
    table.rows.push_back(std::move(record));
    table.rowNumbers.push_back(row);
  }
  if (header) throw CommandLineError(name + ": the file has no header row naming its columns");
  return table;
}

std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (const char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

int RunShareLink(const Options& o, const std::string& appFolder, std::ostream& out) {
  const MediaChoices offered = BundledMedia(appFolder, o.bundles);
  LinkCard card;
  card.tune = choiceName("--tune", "tune", offered.tunes, o.tune);
  card.ground = choiceName("--ground", "ground", offered.grounds, o.ground);
  card.tree = choiceName("--model", "tree", offered.trees, o.model);
  card.lang = o.lang;

  std::optional<CsvTable> table;
  if (!o.recipients.empty()) table = ParseCsv(readRecipients(o.recipients), o.recipients);
  const Texts texts = textsOf(o, appFolder, table ? &*table : nullptr);
  TextCheck check;
  // A text without placeholders is the same in every row: refused once, naming its option.
  for (std::size_t i = 0; i < texts.templates.size(); ++i) {
    const Template& t = texts.templates[i];
    if (!t.Plain()) continue;
    if (const std::string problem = check.Problem(texts.options[i], t.pieces[0].literal, i == 0);
        !problem.empty())
      throw CommandLineError(problem);
  }

  if (!table) {
    const std::vector<std::string> noRow;
    std::vector<int> used;
    fillCard(card, texts, noRow, used);
    try {
      out << LinkFor(o.shareLink, card) << "\n";
    } catch (const std::invalid_argument& e) {
      throw CommandLineError("--share-link: " + std::string(e.what()));
    }
    return 0;
  }

  std::string csv;
  for (const std::string& column : table->columns) csv += CsvField(column) + ",";
  csv += "link\r\n";
  for (std::size_t r = 0; r < table->rows.size(); ++r) {
    const std::vector<std::string>& row = table->rows[r];
    const std::string where = o.recipients + " row " + std::to_string(table->rowNumbers[r]);
    std::vector<int> used;
    fillCard(card, texts, row, used);
    for (std::size_t i = 0; i < texts.templates.size(); ++i) {
      if (texts.templates[i].Plain()) continue;
      std::vector<int> usedHere;
      const std::string text = fill(texts.templates[i], row, usedHere);
      if (const std::string problem = check.Problem(subjectOf(i), text, i == 0); !problem.empty())
        throw CommandLineError(where + blamed(*table, row, usedHere) + ": " + problem);
    }
    std::string link;
    try {
      link = LinkFor(o.shareLink, card);
    } catch (const std::invalid_argument& e) {
      throw CommandLineError(where + blamed(*table, row, used) + ": " + e.what());
    }
    for (const std::string& field : row) csv += CsvField(field) + ",";
    csv += link + "\r\n";
  }
  out << csv;
  return 0;
}

}  // namespace app
