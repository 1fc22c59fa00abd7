# Makes the Debian changelog and the AppStream metainfo's release list from CHANGELOG.md.
# Run as a script: cmake -DCHANGELOG=... -DVERSION=... -DPACKAGE=... -DREVISION=... -DMAINTAINER=...
#   -DAPPSTREAM_ID=... -DDEBIAN_CHANGELOG=out -DMETAINFO_IN=in -DMETAINFO_OUT=out -P ReleaseNotes.cmake
# CHANGELOG.md holds versions, newest first, as "## VERSION (YYYY-MM-DD)" followed by "- " items
# whose further lines are indented by two spaces; other lines are ignored. The newest version must
# be VERSION. Each version becomes a Debian entry "PACKAGE (VERSION-REVISION)" with the date at
# midnight UTC, and a <release> in METAINFO_IN's place of @RELEASES@; @APPSTREAM_ID@ there becomes
# APPSTREAM_ID.

foreach(variable CHANGELOG VERSION PACKAGE REVISION MAINTAINER APPSTREAM_ID DEBIAN_CHANGELOG METAINFO_IN
                 METAINFO_OUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "ReleaseNotes.cmake needs -D${variable}=...")
    endif()
endforeach()

# "Mon, 07 Dec 2026 00:00:00 +0000" for 2026-12-07 (Sakamoto's day of the week).
function(rfc2822_date iso out)
    string(SUBSTRING "${iso}" 0 4 year)
    string(SUBSTRING "${iso}" 5 2 month)
    string(SUBSTRING "${iso}" 8 2 day)
    math(EXPR m "${month}")
    math(EXPR d "${day}")
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${m} - 1")
    list(GET offsets ${index} offset)
    set(y ${year})
    if(m LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${d}) % 7")
    set(days Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET days ${weekday} dayName)
    list(GET months ${index} monthName)
    set(${out} "${dayName}, ${day} ${monthName} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

function(xml_escape text out)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(debian "")
set(releases "")
set(current "")      # version being read
set(item "")         # text of the item being read, for the metainfo
set(entry "")        # Debian lines of the version being read
set(items "")        # <li> lines of the version being read
set(trailer "")

# Closes the item being read, then, with version true, the version being read.
macro(close_item)
    if(NOT item STREQUAL "")
        xml_escape("${item}" escaped)
        string(APPEND items "          <li>${escaped}</li>\n")
        set(item "")
    endif()
endmacro()
macro(close_version)
    close_item()
    if(NOT current STREQUAL "")
        if(items STREQUAL "")
            message(FATAL_ERROR "${CHANGELOG}: version ${current} lists no changes")
        endif()
        if(NOT debian STREQUAL "")
            string(APPEND debian "\n")
        endif()
        string(APPEND debian "${PACKAGE} (${current}-${REVISION}) unstable; urgency=medium\n\n${entry}\n"
                             " -- ${MAINTAINER}  ${trailer}\n")
        string(APPEND releases "    <release version=\"${current}\" date=\"${date}\">\n"
                               "      <description>\n        <ul>\n${items}        </ul>\n"
                               "      </description>\n    </release>\n")
        set(entry "")
        set(items "")
    endif()
endmacro()

file(READ "${CHANGELOG}" text)
string(REPLACE "\r" "" text "${text}")
set(number 0)
while(NOT text STREQUAL "")
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
        set(line "${text}")
        set(text "")
    else()
        string(SUBSTRING "${text}" 0 ${end} line)
        math(EXPR next "${end} + 1")
        string(SUBSTRING "${text}" ${next} -1 text)
    endif()
    math(EXPR number "${number} + 1")
    string(LENGTH "${line}" length)
    if(length GREATER 78)
        message(FATAL_ERROR "${CHANGELOG}:${number}: longer than 78 characters")
    endif()
    if(line MATCHES "^## ([0-9][0-9.]*) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
        close_version()
        set(current "${CMAKE_MATCH_1}")
        set(date "${CMAKE_MATCH_2}")
        rfc2822_date("${date}" trailer)
        if(releases STREQUAL "" AND NOT current STREQUAL "${VERSION}")
            message(FATAL_ERROR "${CHANGELOG}: the newest version is ${current}, the project's is ${VERSION}")
        endif()
    elseif(line MATCHES "^## ")
        message(FATAL_ERROR "${CHANGELOG}:${number}: a version heading is \"## VERSION (YYYY-MM-DD)\"")
    elseif(NOT current STREQUAL "" AND line MATCHES "^- (.*)$")
        close_item()
        set(item "${CMAKE_MATCH_1}")
        string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
    elseif(NOT item STREQUAL "" AND line MATCHES "^  ([^ ].*)$")
        string(APPEND item " ${CMAKE_MATCH_1}")
        string(APPEND entry "    ${CMAKE_MATCH_1}\n")
    else()
        close_item()
    endif()
endwhile()
close_version()
if(releases STREQUAL "")
    message(FATAL_ERROR "${CHANGELOG}: no version found")
endif()

file(WRITE "${DEBIAN_CHANGELOG}" "${debian}")
file(READ "${METAINFO_IN}" metainfo)
string(REGEX REPLACE "\n$" "" RELEASES "${releases}")
string(CONFIGURE "${metainfo}" metainfo @ONLY)
file(WRITE "${METAINFO_OUT}" "${metainfo}")
