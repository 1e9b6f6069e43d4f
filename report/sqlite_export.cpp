#include "sqlite_export.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <sift_campaign/failure.hpp>
#include <sift_campaign/utf8.hpp>

#include "exact_number.hpp"

namespace sift_runlog::report {
namespace {

constexpr std::string_view tables_sql = R"(
CREATE TABLE logs (
  path TEXT PRIMARY KEY NOT NULL,
  tool TEXT,
  model TEXT,
  examination TEXT,
  run TEXT,
  cores INTEGER,
  time_flag TEXT,
  memory_flag TEXT,
  verdict TEXT NOT NULL,
  techniques TEXT,
  report TEXT
) WITHOUT ROWID;
CREATE TABLE answers (
  path TEXT NOT NULL REFERENCES logs (path),
  position INTEGER NOT NULL,
  formula TEXT,
  value TEXT,
  number REAL,
  value_key TEXT,
  PRIMARY KEY (path, position)
) WITHOUT ROWID;
)";

constexpr std::string_view reference_sql = R"(
CREATE TABLE reference (
  model TEXT NOT NULL,
  examination TEXT NOT NULL,
  formula TEXT NOT NULL,
  value TEXT NOT NULL,
  number REAL,
  value_key TEXT NOT NULL,
  PRIMARY KEY (model, examination, formula)
) WITHOUT ROWID;
)";

// The definite answers that are compared: those with a formula name, a model and an examination.
// Only the formulas they disagree on (contested) are looked at answer by answer. Names and paths
// sort as bytes whatever their type (CAST AS BLOB), as the report sorts them. Window functions
// need SQLite 3.25 (2018).
constexpr std::string_view views_sql = R"(
CREATE INDEX logs_by_group ON logs (tool, examination);
CREATE VIEW summary AS
WITH given AS (
  SELECT a.path, a.formula, a.value_key, l.model, l.examination
  FROM answers a JOIN logs l ON l.path = a.path
  WHERE a.value_key IS NOT NULL AND a.formula IS NOT NULL
    AND l.model IS NOT NULL AND l.examination IS NOT NULL),
contested AS (
  SELECT model, examination, formula FROM given
  GROUP BY model, examination, formula HAVING min(value_key) <> max(value_key)),
judged AS (
  SELECT g.path,
    count(*) OVER (PARTITION BY g.model, g.examination, g.formula)
      - count(*) OVER (PARTITION BY g.model, g.examination, g.formula, g.value_key)
      > count(*) OVER (PARTITION BY g.path, g.formula)
      - count(*) OVER (PARTITION BY g.path, g.formula, g.value_key) AS disputed
  FROM given g JOIN contested c
    ON c.model = g.model AND c.examination = g.examination AND c.formula = g.formula),
disputed AS (SELECT path, sum(disputed) AS disputed FROM judged GROUP BY path),
counted AS (SELECT path, count(*) AS formulas, count(value) AS answered FROM answers GROUP BY path)
SELECT l.tool, l.examination, count(*) AS logs,
  coalesce(sum(c.formulas), 0) AS formulas,
  coalesce(sum(c.answered), 0) AS answered,
  coalesce(sum(d.disputed), 0) AS disputed,
  sum(l.verdict = 'answers') AS answers,
  sum(l.verdict = 'DNC') AS DNC,
  sum(l.verdict = 'CC') AS CC,
  sum(l.verdict = 'DNF') AS DNF,
  sum(l.verdict = 'BAD_RUN?') AS "BAD_RUN?",
  sum(l.verdict = 'ERROR') AS ERROR,
  sum(l.verdict = 'problem_with_file') AS problem_with_file,
  sum(l.verdict = 'failed') AS failed,
  sum(l.time_flag IS 'DNF') AS time_flag_DNF,
  sum(l.memory_flag IS 'MOVF') AS memory_flag_MOVF,
  count(DISTINCT l.run) AS runs
FROM logs l LEFT JOIN counted c ON c.path = l.path LEFT JOIN disputed d ON d.path = l.path
GROUP BY l.tool, l.examination
ORDER BY CAST(l.tool AS BLOB), CAST(l.examination AS BLOB);
CREATE VIEW disagreements AS
WITH given AS (
  SELECT a.path, a.position, a.formula, a.value, a.value_key, l.tool, l.model, l.examination
  FROM answers a JOIN logs l ON l.path = a.path
  WHERE a.value_key IS NOT NULL AND a.formula IS NOT NULL
    AND l.model IS NOT NULL AND l.examination IS NOT NULL),
contested AS (
  SELECT model, examination, formula FROM given
  GROUP BY model, examination, formula HAVING min(value_key) <> max(value_key)),
answered AS (
  SELECT g.*,
    count(*) OVER (PARTITION BY g.model, g.examination, g.formula, g.value_key) AS class_size,
    first_value(g.value) OVER (PARTITION BY g.model, g.examination, g.formula, g.value_key
                               ORDER BY CAST(g.path AS BLOB), g.position) AS first_text
  FROM given g JOIN contested c
    ON c.model = g.model AND c.examination = g.examination AND c.formula = g.formula),
sized AS (
  SELECT *, max(class_size) OVER (PARTITION BY model, examination, formula) AS top
  FROM answered),
marked AS (
  SELECT *, sum(class_size = top) OVER (PARTITION BY model, examination, formula) AS top_rows,
    max(CASE WHEN class_size = top THEN first_text END)
      OVER (PARTITION BY model, examination, formula) AS top_text
  FROM sized)
-- The majority: the one value given most often, when no other is given as often (the rows of
-- the values given most often are then as many as the answers of one of them).
SELECT model, examination, formula, value, tool, path,
  CASE WHEN top_rows = top THEN top_text END AS majority
FROM marked
ORDER BY CAST(model AS BLOB), CAST(examination AS BLOB), CAST(formula AS BLOB),
  CAST(path AS BLOB), position;
)";

constexpr std::string_view scores_sql = R"(
CREATE VIEW scores AS
SELECT l.tool, l.examination,
  count(CASE WHEN a.value_key = r.value_key THEN 1 END) AS "right",
  count(CASE WHEN a.value_key <> r.value_key THEN 1 END) AS wrong,
  count(CASE WHEN a.value_key IS NULL AND r.formula IS NOT NULL THEN 1 END) AS unanswered,
  count(CASE WHEN a.position IS NOT NULL AND r.formula IS NULL THEN 1 END) AS not_in_reference
FROM logs l LEFT JOIN answers a ON a.path = l.path
  LEFT JOIN reference r
    ON r.model = l.model AND r.examination = l.examination AND r.formula = a.formula
GROUP BY l.tool, l.examination
ORDER BY CAST(l.tool AS BLOB), CAST(l.examination AS BLOB);
)";

bool valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = campaign::valid_utf8_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

class database {
 public:
  database() {
    // The memdb file system keeps the database in one block of memory that serialize hands out.
    const int status = sqlite3_open_v2(
        "file:campaign?vfs=memdb", &db_,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
        nullptr);
    if (status != SQLITE_OK) fail("cannot open an in-memory database");
    sqlite3_int64 no_limit = std::numeric_limits<sqlite3_int64>::max();
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_SIZE_LIMIT, &no_limit);
  }
  ~database() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  database(const database&) = delete;
  database& operator=(const database&) = delete;

  [[noreturn]] void fail(std::string_view what) const {
    throw campaign::failure("sqlite: " + std::string(what) + ": " +
                            (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
  }

  void run(std::string_view sql) {
    if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      fail("cannot make the database");
    }
  }

  sqlite3_stmt* prepare(std::string_view sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &statement, nullptr) != SQLITE_OK) {
      fail("cannot prepare an insert");
    }
    statements_.push_back(statement);
    return statement;
  }

  // Binds a text (as a BLOB when it is not valid UTF-8), or NULL when absent.
  void bind(sqlite3_stmt* statement, int column, const std::optional<std::string_view>& text) {
    int status = SQLITE_OK;
    if (!text) {
      status = sqlite3_bind_null(statement, column);
    } else if (valid_utf8(*text)) {
      status = sqlite3_bind_text(statement, column, text->data(), static_cast<int>(text->size()),
                                 SQLITE_STATIC);
    } else {
      status = sqlite3_bind_blob(statement, column, text->data(), static_cast<int>(text->size()),
                                 SQLITE_STATIC);
    }
    if (status != SQLITE_OK) fail("cannot bind a value");
  }
  void bind(sqlite3_stmt* statement, int column, const std::optional<double>& number) {
    const int status = number ? sqlite3_bind_double(statement, column, *number)
                              : sqlite3_bind_null(statement, column);
    if (status != SQLITE_OK) fail("cannot bind a value");
  }
  void bind(sqlite3_stmt* statement, int column, std::int64_t number) {
    if (sqlite3_bind_int64(statement, column, number) != SQLITE_OK) fail("cannot bind a value");
  }

  void step(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) fail("cannot insert a row");
    sqlite3_reset(statement);
  }

  // The database's bytes, valid until it is closed.
  std::string_view bytes() {
    sqlite3_int64 size = 0;
    unsigned char* data = sqlite3_serialize(db_, "main", &size, SQLITE_SERIALIZE_NOCOPY);
    if (data == nullptr) fail("cannot serialize the database");
    return {reinterpret_cast<const char*>(data), static_cast<std::size_t>(size)};
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

std::optional<std::string_view> text_of(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  return std::string_view(*value);
}

// The cores as an integer where the log gave digits; otherwise its text (or NULL), as written.
void bind_cores(database& db, sqlite3_stmt* statement, int column,
                const std::optional<std::string>& cores) {
  if (cores && !cores->empty() && cores->size() <= 18 &&
      cores->find_first_not_of("0123456789") == std::string::npos) {
    db.bind(statement, column, static_cast<std::int64_t>(std::stoll(*cores)));
  } else {
    db.bind(statement, column, text_of(cores));
  }
}

// Inserts the rows of a table: a log's answers by one statement, which keeps SQLite's cursor where
// the last one went (they come in the order of the primary key) and its work per statement small.
class row_inserter {
 public:
  explicit row_inserter(database& db)
      : db_(db), log_(db.prepare("INSERT INTO logs VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")) {}

  void insert(const campaign::row& row) {
    insert_log(row);
    for (std::size_t first = 0; first < row.answers.size(); first += most_answers) {
      const std::size_t count = std::min(most_answers, row.answers.size() - first);
      sqlite3_stmt* statement = answers_statement(count);
      for (std::size_t i = 0; i < count; ++i) {
        bind_answer(statement, static_cast<int>(i * 6), row, first + i, keys_[i]);
      }
      db_.step(statement);
    }
  }

 private:
  static constexpr std::size_t most_answers = 16;

  void insert_log(const campaign::row& row) {
    db_.bind(log_, 1, std::optional<std::string_view>(row.path));
    db_.bind(log_, 2, text_of(row.tool));
    db_.bind(log_, 3, text_of(row.model));
    db_.bind(log_, 4, text_of(row.examination));
    db_.bind(log_, 5, text_of(row.run));
    bind_cores(db_, log_, 6, row.cores);
    db_.bind(log_, 7, text_of(row.time_flag));
    db_.bind(log_, 8, text_of(row.memory_flag));
    db_.bind(log_, 9, std::optional(campaign::word_of(row.verdict)));
    techniques_.clear();
    for (const std::string& technique : row.techniques) {
      (techniques_ += techniques_.empty() ? "" : " ") += technique;
    }
    db_.bind(log_, 10,
             techniques_.empty() ? std::nullopt : std::optional<std::string_view>(techniques_));
    report_ = campaign::report_text(row);
    db_.bind(log_, 11, report_.empty() ? std::nullopt : std::optional<std::string_view>(report_));
    db_.step(log_);
  }

  // Binds answer `i` of `row` after the `before` columns of the answers before it in the same
  // statement; `value_key` holds its key until the statement has run.
  void bind_answer(sqlite3_stmt* statement, int before, const campaign::row& row, std::size_t i,
                   std::string& value_key) {
    const campaign::answer& given = row.answers[i];
    db_.bind(statement, before + 1, std::optional<std::string_view>(row.path));
    db_.bind(statement, before + 2, static_cast<std::int64_t>(i + 1));
    db_.bind(statement, before + 3,
             given.name.empty() ? std::nullopt : std::optional<std::string_view>(given.name));
    db_.bind(statement, before + 4, text_of(given.value));
    std::optional<double> number;
    if (given.value) value_key = comparison_key(*given.value, number);
    db_.bind(statement, before + 5, number);
    db_.bind(statement, before + 6,
             given.value ? std::optional<std::string_view>(value_key) : std::nullopt);
  }

  sqlite3_stmt* answers_statement(std::size_t count) {
    if (answers_.size() < count) answers_.resize(count, nullptr);
    if (answers_[count - 1] == nullptr) {
      std::string sql = "INSERT INTO answers VALUES (?, ?, ?, ?, ?, ?)";
      for (std::size_t i = 1; i < count; ++i) sql += ", (?, ?, ?, ?, ?, ?)";
      answers_[count - 1] = db_.prepare(sql);
    }
    return answers_[count - 1];
  }

  database& db_;
  sqlite3_stmt* log_;
  std::vector<sqlite3_stmt*> answers_;  // by the number of answers they insert, less one
  std::string techniques_, report_;
  std::array<std::string, most_answers> keys_;
};

void insert_reference(database& db, const reference_answers& reference) {
  db.run(reference_sql);
  sqlite3_stmt* insert = db.prepare("INSERT INTO reference VALUES (?, ?, ?, ?, ?, ?)");
  reference.for_each([&](std::string_view model, std::string_view examination,
                         const reference_answers::known& known) {
    db.bind(insert, 1, std::optional(model));
    db.bind(insert, 2, std::optional(examination));
    db.bind(insert, 3, std::optional<std::string_view>(known.formula));
    db.bind(insert, 4, std::optional<std::string_view>(known.value));
    db.bind(insert, 5, decimal_value(known.value));
    db.bind(insert, 6, std::optional<std::string_view>(known.key));
    db.step(insert);
  });
}

}  // namespace

void write_sqlite(campaign::table_set& rows, const reference_answers* reference,
                  const byte_sink& sink) {
  database db;
  // Nothing is kept on disk until the bytes are written: no journal is needed.
  db.run("PRAGMA page_size = 8192; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
  db.run(tables_sql);
  db.run("BEGIN");
  row_inserter inserter(db);
  campaign::row row;
  while (rows.next(row)) inserter.insert(row);
  if (reference != nullptr) insert_reference(db, *reference);
  db.run(views_sql);
  if (reference != nullptr) db.run(scores_sql);
  db.run("COMMIT");
  // In pieces, so that no writer holds a copy of the whole database.
  const std::string_view bytes = db.bytes();
  constexpr std::size_t piece = 1 << 20;
  for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
    sink(bytes.substr(offset, piece));
  }
}

}  // namespace sift_runlog::report
