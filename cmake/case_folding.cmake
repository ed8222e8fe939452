# Writes the simple case folding table (statuses C and S of Unicode's
# CaseFolding.txt, Debian's unicode-data package) as C++ initialisers,
# "{0x0041, 0x0061},", one per line, in code point order.
# A file of the build machine, also when cross-building.
find_file(ZRK_CASE_FOLDING_TXT CaseFolding.txt PATHS /usr/share/unicode NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT ZRK_CASE_FOLDING_TXT)
  message(FATAL_ERROR "CaseFolding.txt not found: install the unicode-data package")
endif()

function(zrk_write_case_fold_table output)
  file(STRINGS "${ZRK_CASE_FOLDING_TXT}" mappings REGEX "^[0-9A-F]+; [CS]; [0-9A-F]+;")
  file(STRINGS "${ZRK_CASE_FOLDING_TXT}" version REGEX "^# CaseFolding-" LIMIT_COUNT 1)
  string(REPLACE "# " "" version "${version}")
  set(table "// Made at configure time from ${version}: simple case folding.\n")
  foreach(line IN LISTS mappings)
    string(REGEX REPLACE "^([0-9A-F]+); [CS]; ([0-9A-F]+);.*" "{0x\\1, 0x\\2},\n" entry "${line}")
    string(APPEND table "${entry}")
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${table}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZRK_CASE_FOLDING_TXT}")
endfunction()
