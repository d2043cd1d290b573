-- Benchmark data: 1,000,000 rows of six column types and 2,000 blobs of 64 KiB.
CREATE TABLE fetch_rows (
  i INT NOT NULL PRIMARY KEY,
  b BIGINT NOT NULL,
  v VARCHAR(32) NOT NULL,
  d DOUBLE NOT NULL,
  dt DATETIME NOT NULL,
  m DECIMAL(12,2) NOT NULL
) ENGINE=InnoDB;
INSERT INTO fetch_rows
SELECT seq, seq * 1000003, CONCAT('name-', seq, '-', REPEAT('x', seq % 17)),
       seq / 7, TIMESTAMP('2020-01-01') + INTERVAL seq SECOND,
       (seq % 100000) + (seq % 100) / 100
FROM seq_1_to_1000000;

CREATE TABLE blob_rows (id INT NOT NULL PRIMARY KEY, data LONGBLOB NOT NULL) ENGINE=InnoDB;
INSERT INTO blob_rows
SELECT seq, RANDOM_BYTES(1024) FROM seq_1_to_2000;
UPDATE blob_rows SET data = REPEAT(CONCAT(data, UNHEX(SHA2(id, 256))), 62);
UPDATE blob_rows SET data = LEFT(CONCAT(data, REPEAT(UNHEX('A5'), 65536)), 65536);

CREATE TABLE insert_rows (
  i INT NOT NULL PRIMARY KEY,
  b BIGINT NOT NULL,
  v VARCHAR(32) NOT NULL,
  d DOUBLE NOT NULL,
  dt DATETIME NOT NULL,
  m DECIMAL(12,2) NOT NULL
) ENGINE=InnoDB;
