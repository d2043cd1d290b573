-- A small table for the demo's isql session.
CREATE TABLE demo (
    id    INT PRIMARY KEY,
    name  VARCHAR(40) NOT NULL,
    price DECIMAL(8,2),
    added DATE
);
INSERT INTO demo VALUES
    (1, 'kettle', 24.90, '2024-01-15'),
    (2, 'teapot', 31.50, '2024-02-03'),
    (3, 'café au lait bowl', 12.00, NULL);
