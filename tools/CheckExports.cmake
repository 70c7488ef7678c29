# Checks the export table of the QuorinCAPI shared library: every exported or defined dynamic
# symbol is a Tlx* or Brv* name (undecorated: letters, digits, '_'), and the memory and
# interchange exports are there. With HEADER, the table must hold exactly the functions of the
# header's export list (QUORIN_CAPI_EXPORTS), which hosts that load the library by name rely on.
#
#   cmake -DFORMAT=nm -DTOOL=<nm>      -DLIBRARY=libQuorinCAPI.so [-DHEADER=QuorinCAPI.h] -P CheckExports.cmake
#   cmake -DFORMAT=pe -DTOOL=<objdump> -DLIBRARY=QuorinCAPI.dll   [-DHEADER=QuorinCAPI.h] -P CheckExports.cmake
#   cmake -DFORMAT=nm|pe -DLISTING=<saved tool output> [-DHEADER=...] -P CheckExports.cmake
cmake_minimum_required(VERSION 3.25)

set(required BrvMalloc BrvRealloc BrvFree
    TlxExport TlxImport TlxGetDefaultExportConfig TlxGetDefaultImportConfig TlxGetExportProgress
    TlxGetImportProgress TlxGetExportDone TlxGetImportDone TlxGetInterchangeResult)
set(listed)
if(DEFINED HEADER)
  # Entries of the list: "    X(<type>, <name>, (<parameters>..." at the start of a line. The
  # lines end in a backslash, so the file is matched whole rather than read as a list of lines.
  file(READ "${HEADER}" header)
  string(REGEX MATCHALL "\n *X\\([^,\n]+, *[A-Za-z0-9_]+," entries "${header}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\n *X\\([^,]+, *([A-Za-z0-9_]+),$" "\\1" name "${entry}")
    list(APPEND listed "${name}")
  endforeach()
  if(NOT listed)
    message(FATAL_ERROR "No export list (X(type, name, (parameters)) lines) in ${HEADER}")
  endif()
  list(APPEND required ${listed})
  list(REMOVE_DUPLICATES required)
endif()

if(DEFINED LISTING)
  file(READ "${LISTING}" output)
else()
  if(FORMAT STREQUAL "nm")
    set(command "${TOOL}" -D --defined-only "${LIBRARY}")
  elseif(FORMAT STREQUAL "pe")
    set(command "${TOOL}" -p "${LIBRARY}")
  else()
    message(FATAL_ERROR "FORMAT must be nm or pe, not '${FORMAT}'")
  endif()
  execute_process(COMMAND ${command} OUTPUT_VARIABLE output ERROR_VARIABLE errors
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${command} failed (${result}): ${errors}")
  endif()
endif()

string(REPLACE "\n" ";" lines "${output}")
set(names)
if(FORMAT STREQUAL "nm")
  # "<address> <type> <name>"; --defined-only already drops the imports.
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
else()
  # The export directory's name table: "\t[   0] +base[   1] 0000 BrvFree" (binutils 2.40)
  # or "\t[   0] BrvFree" (older binutils), between its heading and the next blank line.
  set(inTable FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(inTable TRUE)
    elseif(inTable AND line MATCHES "^[ \t]*$")
      set(inTable FALSE)
    elseif(inTable)
      if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (\\+base\\[ *[0-9]+\\] [0-9a-fA-F]+ )?(.+)$")
        list(APPEND names "${CMAKE_MATCH_2}")
      else()
        message(FATAL_ERROR "Unexpected line in the export name table: '${line}'")
      endif()
    endif()
  endforeach()
endif()

set(foreign)
foreach(name IN LISTS names)
  if(NOT name MATCHES "^(Tlx|Brv)[A-Za-z0-9_]+$")
    list(APPEND foreign "${name}")
  elseif(listed AND NOT name IN_LIST listed)
    list(APPEND foreign "${name} (not in the header's export list)")
  endif()
endforeach()
set(missing)
foreach(name IN LISTS required)
  if(NOT name IN_LIST names)
    list(APPEND missing "${name}")
  endif()
endforeach()

list(LENGTH names count)
if(foreign OR missing)
  list(JOIN foreign "\n  " foreignText)
  list(JOIN missing " " missingText)
  message(FATAL_ERROR "Export table of ${LIBRARY}${LISTING} (${count} symbols) is wrong.\n"
                      "Not Tlx*/Brv*:\n  ${foreignText}\nMissing: ${missingText}")
endif()
message(STATUS "${count} exports, all Tlx*/Brv*: ${names}")
