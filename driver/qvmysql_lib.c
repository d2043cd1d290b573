/* The shared library is the static core linked whole; this unit only gives
 * the linker something to build the library from. */
int qvmysql_library_anchor;
