// The sqlite view: the campaign as a SQLite database, made in memory and handed over as the
// bytes of a database file, so that it is written and replaced like every other output.
//
// Tables: logs (one row per log, path the primary key), answers (one row per answer: path,
// position from 1, formula, value NULL for "?", number, and value_key, equal for two answers
// exactly when they are the same value) and, with a reference, reference (model, examination,
// formula, value, number, value_key). Views: summary, disagreements and, with a reference,
// scores, with the report's columns and numbers (no total rows). A text that is not valid
// UTF-8 is stored as a BLOB of its bytes, so that every TEXT reads back as a string.
#pragma once

#include <sift_campaign/table_set.hpp>

#include "campaign_digest.hpp"
#include "output_table.hpp"

namespace sift_runlog::report {

// Reads every row of `rows` into a database and gives its bytes to `sink`. Throws
// campaign::failure when SQLite fails.
void write_sqlite(campaign::table_set& rows, const reference_answers* reference,
                  const byte_sink& sink);

}  // namespace sift_runlog::report
