# R through DBI and the odbc package against the driver: connects by DSN,
# writes a data frame of every common type with dbAppendTable (a parameter
# array) and reads it back, lists tables and fields, and commits and rolls
# back. Run by r_client.sh, which skips when R or the odbc package is not
# there. Exits 0 when every check passes, 1 otherwise (each failure printed).
suppressPackageStartupMessages({
  library(DBI)
  library(odbc)
})

failures <- character()
check <- function(what, ok) {
  if (!isTRUE(ok)) failures <<- c(failures, what)
}

env_lines <- readLines(Sys.getenv("QV_SERVER_ENV"), encoding = "UTF-8")
env <- list()
for (l in env_lines) {
  at <- regexpr("=", l, fixed = TRUE)
  if (at > 0) env[[substr(l, 1, at - 1)]] <- substr(l, at + 1, nchar(l))
}

con <- dbConnect(odbc::odbc(), dsn = env[["QV_DSN"]], encoding = "UTF-8")
table <- "qv_r_types"
dbExecute(con, paste("DROP TABLE IF EXISTS", table))
dbExecute(con, paste("CREATE TABLE", table, "(",
                     "id INT PRIMARY KEY, i INT, big BIGINT, num DECIMAL(20,6),",
                     "dbl DOUBLE, vc VARCHAR(100), mt MEDIUMTEXT, mb MEDIUMBLOB,",
                     "d DATE, t TIME, dt DATETIME(6), b BIT(1),",
                     "e ENUM('red','green','blue'))"))

text <- "Grüße, мир, 漢字, 😀"
long_text <- strrep("é", 35000)                       # 70,000 bytes of UTF-8
blob_bytes <- as.raw(rep_len(0:255, 1024 * 1024))     # 1 MB, every byte value
stamp <- as.POSIXct("2024-02-29 12:34:56.123456", tz = "UTC")
df <- data.frame(
  id = 1:3,
  i = c(-2147483647L, NA, 0L),
  big = bit64::as.integer64(c("9007199254740993", NA, "-9223372036854775807")),
  num = c(12345.678901, NA, -0.5),
  dbl = c(pi, NA, -1e300),
  vc = c(text, NA, ""),
  mt = c(long_text, NA, "x"),
  d = as.Date(c("2024-02-29", NA, "1000-01-01")),
  t = hms::as_hms(c("23:59:59", NA, "00:00:00")),
  dt = c(stamp, NA, as.POSIXct("1970-01-01 00:00:01", tz = "UTC")),
  b = c(TRUE, NA, FALSE),
  e = c("green", NA, "red"),
  stringsAsFactors = FALSE
)
df$mb <- blob::blob(blob_bytes, NULL, as.raw(c(0, 1, 0)))
Encoding(df$vc) <- "UTF-8"
Encoding(df$mt) <- "UTF-8"

dbAppendTable(con, table, df)
got <- dbGetQuery(con, paste("SELECT * FROM", table, "ORDER BY id"))

check("row count", nrow(got) == 3)
check("INT", identical(as.integer(got$i), df$i))
check("BIGINT", identical(as.character(got$big), c("9007199254740993", NA, "-9223372036854775807")))
check("DECIMAL", isTRUE(all.equal(as.numeric(got$num), df$num)))
check("DOUBLE", isTRUE(all.equal(got$dbl, df$dbl)))
check("VARCHAR non-Latin", identical(enc2utf8(got$vc), enc2utf8(df$vc)))
check("MEDIUMTEXT 70,000 bytes", identical(enc2utf8(got$mt), enc2utf8(df$mt)) &&
        nchar(got$mt[1], type = "bytes") == 70000)
check("MEDIUMBLOB 1 MB", identical(as.raw(got$mb[[1]]), blob_bytes) &&
        is.null(got$mb[[2]]) && identical(as.raw(got$mb[[3]]), as.raw(c(0, 1, 0))))
check("DATE", identical(as.Date(got$d), df$d))
check("TIME", identical(as.character(hms::as_hms(got$t)), as.character(df$t)))
check("DATETIME(6)", isTRUE(all.equal(as.numeric(got$dt), as.numeric(df$dt), tolerance = 0,
                                      scale = 1)) ||
        isTRUE(max(abs(as.numeric(got$dt) - as.numeric(df$dt)), na.rm = TRUE) < 1e-5 &&
               identical(is.na(got$dt), is.na(df$dt))))
check("BIT", identical(as.logical(got$b), df$b))
check("ENUM", identical(as.character(got$e), df$e))
check("NULLs", all(is.na(got[2, c("i", "num", "dbl", "vc", "mt", "d", "t", "dt", "b", "e")])))

check("dbListTables", table %in% dbListTables(con))
check("dbListFields", identical(dbListFields(con, table),
                                c("id", "i", "big", "num", "dbl", "vc", "mt", "mb", "d", "t",
                                  "dt", "b", "e")))
check("dbExistsTable", dbExistsTable(con, table))

count <- function() dbGetQuery(con, paste("SELECT COUNT(*) AS n FROM", table))$n
dbBegin(con)
dbExecute(con, paste("INSERT INTO", table, "(id, vc) VALUES (10, 'rolled back')"))
dbRollback(con)
check("rollback", count() == 3)
dbBegin(con)
dbExecute(con, paste("INSERT INTO", table, "(id, vc) VALUES (11, 'committed')"))
dbCommit(con)
check("commit", count() == 4)

dbExecute(con, paste("DROP TABLE", table))
dbDisconnect(con)

for (f in failures) cat("FAIL", f, "\n")
cat("R client:", if (length(failures) == 0) "ok" else paste(length(failures), "failure(s)"), "\n")
quit(status = if (length(failures) == 0) 0 else 1)
