# CPack's package script for the release bundle (the External generator, run
# after the project is installed into CPack's staging folder).
find_program(ZRK_PYTHON NAMES python3 REQUIRED)
set(zip "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
execute_process(
  COMMAND "${ZRK_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/bundle_zip.py" "${CPACK_TEMPORARY_DIRECTORY}"
          "${CPACK_PACKAGE_FILE_NAME}" "${zip}"
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES "${zip}")
