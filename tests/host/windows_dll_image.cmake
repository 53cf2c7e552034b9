# Checks the Windows plug-in file as a user's machine and a host meet it:
# - a 64-bit DLL that imports only DLLs every Windows has (no mingw runtime DLLs beside it);
# - exactly the two exports VSTPluginMain and main, one routine under both names;
# - the version resource with the product, company, file name and version.
#
# cmake -DDLL=Lumisere.dll -DOBJDUMP=x86_64-w64-mingw32-objdump -DWINDRES=x86_64-w64-mingw32-windres
#       -P windows_dll_image.cmake
cmake_minimum_required(VERSION 3.22)

foreach(var DLL OBJDUMP WINDRES)
  if(NOT ${var})
    message(FATAL_ERROR "windows_dll_image: -D${var}=... is required")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "windows_dll_image: ${DLL} does not exist")
endif()

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "windows_dll_image: ${OBJDUMP} -p failed: ${errors}")
endif()

if(NOT headers MATCHES "file format pei-x86-64")
  fail("not a 64-bit PE image")
endif()
if(NOT headers MATCHES "\n[ \t]*DLL\n")
  fail("the image is not marked as a DLL")
endif()

# Every match of pattern in text, each reduced to the pattern's first group.
function(captures pattern text out)
  string(REGEX MATCHALL "${pattern}" matches "${text}")
  set(values "")
  foreach(match ${matches})
    string(REGEX REPLACE "${pattern}" "\\1" value "${match}")
    list(APPEND values "${value}")
  endforeach()
  set(${out} "${values}" PARENT_SCOPE)
endfunction()

# Imports: every name must be a system DLL; KERNEL32 and gdiplus are always needed.
set(allowed kernel32.dll user32.dll gdiplus.dll msvcrt.dll)
captures("DLL Name: *([^\n]+)" "${headers}" imports)
string(TOLOWER "${imports}" imports)
foreach(name ${imports})
  if(NOT name IN_LIST allowed)
    fail("imports ${name}, which a user's machine may not have (only ${allowed} are allowed)")
  endif()
endforeach()
foreach(required kernel32.dll gdiplus.dll)
  if(NOT required IN_LIST imports)
    fail("does not import ${required}")
  endif()
endforeach()

# Exports: the name table lists exactly VSTPluginMain and main; the address table holds one address.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" name_table "${headers}")
captures("\n[ \t]*\\[ *[0-9]+\\][ \t]+([^ \t\n]+)" "${name_table}" exports)
list(SORT exports)
if(NOT exports STREQUAL "VSTPluginMain;main")
  fail("exports [${exports}] instead of exactly [VSTPluginMain;main]")
endif()
captures("\\+base\\[ *[0-9]+\\] +([0-9a-fA-F]+) +Export RVA" "${headers}" addresses)
list(LENGTH addresses address_count)
list(REMOVE_DUPLICATES addresses)
list(LENGTH addresses distinct_addresses)
if(NOT address_count EQUAL 2 OR NOT distinct_addresses EQUAL 1)
  fail("the export address table holds ${address_count} entries at ${distinct_addresses} addresses, not 2 at 1")
endif()

# The version resource, decompiled.
execute_process(COMMAND ${WINDRES} -i ${DLL} -O rc OUTPUT_VARIABLE resources ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("${WINDRES} cannot read the resources: ${errors}")
endif()
foreach(expected
    "FILEVERSION 1, 0, 0, 0"
    "PRODUCTVERSION 1, 0, 0, 0"
    "VALUE \"ProductName\", \"Ostrel Lumisere\""
    "VALUE \"CompanyName\", \"Ostrel Audio\""
    "VALUE \"FileVersion\", \"1.0.0.0\""
    "VALUE \"ProductVersion\", \"1.0.0.0\""
    "VALUE \"OriginalFilename\", \"Lumisere.dll\""
    "VALUE \"FileDescription\", \""
    "VALUE \"LegalCopyright\", \"")
  string(FIND "${resources}" "${expected}" at)
  if(at LESS 0)
    fail("the version resource lacks ${expected}")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "windows_dll_image: ${DLL}\n${failures}")
endif()
message(STATUS "windows_dll_image: imports [${imports}], exports [${exports}] at one address, version resource present")
