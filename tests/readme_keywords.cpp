// The README's table of connection keywords, kept equal to the keyword
// table the driver parses with (include/my_settings.h).
//
//   readme_keywords README.md            check: exit 1 and name every row
//                                        that differs, is missing or is extra
//   readme_keywords --update README.md   rewrite the table from the keyword
//                                        table, keeping each row's meaning
//
// The keyword, odbc.ini key and default columns come from the keyword table;
// the meaning column is written by hand and only has to be there.
#include <my_settings.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char BEGIN[] = "<!-- BEGIN keyword table:";
const char END[] = "<!-- END keyword table -->";
const char HEADER[] = "| connection string | odbc.ini key | default | meaning |\n"
                      "|---|---|---|---|\n";
const char NO_MEANING[] = "(to be written)";

std::string code(const char *s) { return std::string("`") + s + "`"; }

/* The three generated cells of a row. */
struct cells {
    std::string keyword, ini, fallback;
};

cells row_cells(const setting_row &r)
{
    cells c;
    c.keyword = code(r.keyword);
    if (r.alias)
        c.keyword += ", " + code(r.alias);
    c.ini = r.ini_key ? code(r.ini_key) : "(the section name)";
    if (r.ini_alias)
        c.ini += ", " + code(r.ini_alias);
    switch (r.form) {
    case FORM_TEXT:
        c.fallback = "none";
        break;
    case FORM_LOGGING:
        c.fallback = "`0` (off)";
        break;
    case FORM_LOGFILE:
        c.fallback = "standard error";
        break;
    default:
        /* a port of 0 means the protocol's own */
        c.fallback = code(r.output == OUT_PORT && r.initial == 0 ? "3306"
                                                                  : std::to_string(r.initial).c_str());
        break;
    }
    return c;
}

std::vector<std::string> split_row(const std::string &line)
{
    std::vector<std::string> out;
    std::string cell;
    for (size_t k = 1; k < line.size(); k++) {
        if (line[k] == '|') {
            size_t a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
            out.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
            cell.clear();
        } else {
            cell += line[k];
        }
    }
    return out;
}

struct readme {
    std::vector<std::string> before, rows, after;  // rows: the table's lines
    bool found = false;
};

bool load(const char *path, readme &doc)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    int part = 0;
    while (std::getline(in, line)) {
        if (part == 0) {
            doc.before.push_back(line);
            if (line.rfind(BEGIN, 0) == 0)
                part = 1;
        } else if (part == 1) {
            if (line == END) {
                doc.after.push_back(line);
                part = 2;
                doc.found = true;
            } else if (!line.empty() && line[0] == '|') {
                doc.rows.push_back(line);
            }
        } else {
            doc.after.push_back(line);
        }
    }
    return true;
}

/* The README's rows by keyword cell, without the header. */
std::map<std::string, std::vector<std::string>> readme_rows(const readme &doc)
{
    std::map<std::string, std::vector<std::string>> rows;
    for (size_t k = 2; k < doc.rows.size(); k++) {
        std::vector<std::string> c = split_row(doc.rows[k]);
        if (!c.empty())
            rows[c[0]] = c;
    }
    return rows;
}

int update(const char *path, const readme &doc)
{
    std::map<std::string, std::vector<std::string>> old = readme_rows(doc);
    std::ostringstream out;
    for (const std::string &l : doc.before)
        out << l << "\n";
    out << HEADER;
    for (const setting_row &r : setting_table) {
        cells c = row_cells(r);
        auto it = old.find(c.keyword);
        std::string meaning = it != old.end() && it->second.size() >= 4 && !it->second[3].empty()
                                  ? it->second[3]
                                  : NO_MEANING;
        out << "| " << c.keyword << " | " << c.ini << " | " << c.fallback << " | " << meaning
            << " |\n";
    }
    for (const std::string &l : doc.after)
        out << l << "\n";
    std::ofstream file(path, std::ios::trunc);
    file << out.str();
    return file ? 0 : 1;
}

int check(const readme &doc)
{
    std::map<std::string, std::vector<std::string>> rows = readme_rows(doc);
    int faults = 0;
    auto fault = [&](const std::string &what) {
        fprintf(stderr, "README keyword table: %s\n", what.c_str());
        faults++;
    };
    if (doc.rows.size() < 2 || doc.rows[0] + "\n" + doc.rows[1] + "\n" != HEADER)
        fault("the header is not \"" + std::string(HEADER, strchr(HEADER, '\n')) + "\"");
    for (const setting_row &r : setting_table) {
        cells c = row_cells(r);
        auto it = rows.find(c.keyword);
        if (it == rows.end()) {
            fault("no row for " + c.keyword);
            continue;
        }
        const std::vector<std::string> &got = it->second;
        if (got.size() != 4) {
            fault("the row of " + c.keyword + " has " + std::to_string(got.size()) +
                  " cells, not 4");
            continue;
        }
        if (got[1] != c.ini)
            fault(c.keyword + ": odbc.ini key is \"" + got[1] + "\", the driver reads \"" +
                  c.ini + "\"");
        if (got[2] != c.fallback)
            fault(c.keyword + ": default is \"" + got[2] + "\", the driver's is \"" +
                  c.fallback + "\"");
        if (got[3].empty() || got[3] == NO_MEANING)
            fault(c.keyword + ": the meaning is not written");
        rows.erase(it);
    }
    for (const auto &extra : rows)
        fault("row " + extra.first + " names no keyword the driver knows");
    if (faults)
        fprintf(stderr,
                "To regenerate (meanings are kept; new rows need one written): "
                "build/tests/readme_keywords --update README.md\n");
    return faults ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    bool want_update = argc == 3 && strcmp(argv[1], "--update") == 0;
    if (argc != 2 && !want_update) {
        fprintf(stderr, "usage: %s [--update] README.md\n", argv[0]);
        return 64;
    }
    const char *path = argv[argc - 1];
    readme doc;
    if (!load(path, doc)) {
        fprintf(stderr, "%s: cannot read %s\n", argv[0], path);
        return 1;
    }
    if (!doc.found) {
        fprintf(stderr, "%s: no \"%s ...\" ... \"%s\" block in %s\n", argv[0], BEGIN, END, path);
        return 1;
    }
    return want_update ? update(path, doc) : check(doc);
}
