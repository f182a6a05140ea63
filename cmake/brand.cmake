# The brand: every name that says whose product this launcher fronts, read from one CMake file
# (brands/default.cmake is the model; docs/branding.md describes each setting).

# Each setting, with what it may hold: "name" a folder, file or object name part (no character
# Windows forbids there), "exe" such a name ending in .exe, "text" a name shown inside texts, "sku", "origin", "url", "path" and
# "file" as their names say.
set(LAUNCHER_BRAND_SETTINGS
  COMPANY:text PRODUCT:text PRODUCT_ZH_TW:text UPDATER:text
  APP_EXE:exe VENDOR_FOLDER:name PRODUCT_FOLDER:name LOG_FOLDER:name
  SKU:sku UPDATE_URL:origin CHECK_PATH:path DOWNLOAD_URL:url
  LAUNCHER_MUTEX:name INSTALL_MUTEX:name LOG_LOCK:name WINDOW_CLASS:name
  FILE_DESCRIPTION_ZH_TW:text FILE_DESCRIPTION:text PRODUCT_NAME:text
  BANNER:file)

# The message for a value its kind does not allow, or "" when it is fine.
function(launcher_brand_problem kind value out_var)
  set(problem "")
  if(value STREQUAL "")
    set(problem "is empty")
  elseif(value MATCHES "[\"\\\\%\t\r\n]")
    # Names go into C++ and resource string literals and into wsprintfW formats as they are.
    set(problem "holds a quote, a backslash, a percent sign or a control character")
  elseif(kind MATCHES "^(name|exe)$" AND value MATCHES "[<>:/|?*]|^[ .]|[ .]$")
    set(problem "is not a usable Windows file or object name")
  elseif(kind STREQUAL "exe" AND NOT value MATCHES "[^.]\\.exe$")
    set(problem "must be a program's file name ending in .exe")
  elseif(kind STREQUAL "sku" AND NOT value MATCHES "^[!#-;=?-~]+$")
    # Sent unescaped in the check's query string, and stored between tags in the reply.
    set(problem "must be printable ASCII without blanks, '<', '>', '&' or '\"'")
  elseif(kind STREQUAL "path" AND NOT value MATCHES "^(/[A-Za-z0-9._~-]+)+$")
    set(problem "must be /-separated URL-safe segments, starting with /")
  elseif(kind STREQUAL "url" AND NOT value MATCHES "^https?://[A-Za-z0-9.-]+(:[0-9]+)?/([A-Za-z0-9._~-]+/)*$")
    set(problem "must be http:// or https://, a host, an optional port and a path ending in /")
  elseif(kind STREQUAL "file" AND (NOT EXISTS "${value}" OR IS_DIRECTORY "${value}"))
    set(problem "names no file")
  endif()
  set(${out_var} "${problem}" PARENT_SCOPE)
endfunction()

# Reads a brand file into LAUNCHER_BRAND_<setting> in the caller's scope; a fatal error names
# every setting that is missing or unusable.
function(launcher_read_brand file)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "LAUNCHER_BRAND: no brand file '${file}'")
  endif()
  get_filename_component(file "${file}" ABSOLUTE)
  get_filename_component(brand_dir "${file}" DIRECTORY)
  include("${file}")
  set(problems "")
  foreach(setting IN LISTS LAUNCHER_BRAND_SETTINGS)
    string(REPLACE ":" ";" setting "${setting}")
    list(GET setting 0 key)
    list(GET setting 1 kind)
    set(value "${LAUNCHER_BRAND_${key}}")
    if(kind STREQUAL "file" AND NOT value STREQUAL "")
      file(REAL_PATH "${value}" value BASE_DIRECTORY "${brand_dir}")
    endif()
    if(kind STREQUAL "origin")
      if(NOT value MATCHES "^https?://[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]+)?$")
        string(APPEND problems "\n  LAUNCHER_BRAND_${key} '${value}' must be http:// or https:// "
                               "followed by a host and an optional port")
      endif()
    else()
      launcher_brand_problem(${kind} "${value}" problem)
      if(problem)
        string(APPEND problems "\n  LAUNCHER_BRAND_${key} '${value}' ${problem}")
      endif()
    endif()
    set(LAUNCHER_BRAND_${key} "${value}" PARENT_SCOPE)
  endforeach()
  if(problems)
    message(FATAL_ERROR "LAUNCHER_BRAND: ${file}:${problems}")
  endif()
endfunction()

# The brand read by launcher_read_brand as one JSON object, keys in lower case
# ("product", "app_exe", ...), for the scripts and the Python tests.
function(launcher_brand_json out_var)
  set(json "{}")
  foreach(setting IN LISTS LAUNCHER_BRAND_SETTINGS)
    string(REGEX REPLACE ":.*" "" key "${setting}")
    string(TOLOWER "${key}" name)
    string(JSON json SET "${json}" "${name}" "\"${LAUNCHER_BRAND_${key}}\"")
  endforeach()
  set(${out_var} "${json}" PARENT_SCOPE)
endfunction()
