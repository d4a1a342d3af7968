# The version every artefact carries, and its date.
#
# A release is a version that CHANGELOG.md dates with a line
# "## [<version>] - YYYY-MM-DD": its version is PROJECT_VERSION and its date
# that one. Any other build is a development build and says so, in a form that
# Debian, Windows and the manual page all take and that sorts before the
# release: <version>~dev+<YYYYMMDD>.<commit>, dated by the last commit
# (SOURCE_DATE_EPOCH when it is set, as scripts/package.sh sets it). Outside a
# git checkout the commit is left out, and without SOURCE_DATE_EPOCH either the
# date is today's.
#
# Sets M3UMERGE_VERSION, M3UMERGE_RELEASE (TRUE or FALSE), M3UMERGE_DATE
# (2026-12-08) and that date as the manual page and the Debian changelog write
# it, M3UMERGE_MDOC_DATE (December 8, 2026) and M3UMERGE_RFC2822_DATE (Tue, 08
# Dec 2026 12:00:00 +0000). Computed by CMake alone: no date(1) and no locale.
#
# Windows versions are four numbers of 16 bits, and Windows Installer compares
# only the first three (255.255.65535 at most) and ignores a fourth. So the
# fourth, M3UMERGE_VERSION_BUILD, tells the builds apart: 0 for a release, and
# for a development build its date as YYDDD, the year of the century and the
# day of the year (26342 for 2026-12-08), which grows with every day until
# 2065. M3UMERGE_VERSION_QUAD is the four, dotted (0.2.1.26342).

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md)
file(STRINGS ${CMAKE_SOURCE_DIR}/CHANGELOG.md m3umerge_release_line
     REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$")

if(m3umerge_release_line)
  set(M3UMERGE_RELEASE TRUE)
  string(REGEX REPLACE ".* - " "" M3UMERGE_DATE "${m3umerge_release_line}")
  set(M3UMERGE_VERSION ${PROJECT_VERSION})
else()
  set(M3UMERGE_RELEASE FALSE)
  set(m3umerge_commit_time "")
  set(m3umerge_commit "")
  find_package(Git QUIET)
  # Only the source tree's own history: an unpacked archive may sit inside
  # some other checkout.
  if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct:%H
                    OUTPUT_VARIABLE m3umerge_head OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE m3umerge_git_result ERROR_QUIET)
    if(m3umerge_git_result EQUAL 0 AND m3umerge_head MATCHES "^([0-9]+):([0-9a-f]+)$")
      set(m3umerge_commit_time ${CMAKE_MATCH_1})
      # A fixed length, so that every clone names the commit alike.
      string(SUBSTRING ${CMAKE_MATCH_2} 0 7 m3umerge_commit)
    endif()
  endif()
  # string(TIMESTAMP) takes its time from SOURCE_DATE_EPOCH when that is set.
  set(m3umerge_epoch_before "$ENV{SOURCE_DATE_EPOCH}")
  if(m3umerge_epoch_before STREQUAL "" AND NOT m3umerge_commit_time STREQUAL "")
    set(ENV{SOURCE_DATE_EPOCH} ${m3umerge_commit_time})
  endif()
  string(TIMESTAMP M3UMERGE_DATE "%Y-%m-%d" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${m3umerge_epoch_before}")
  string(REPLACE "-" "" m3umerge_compact_date ${M3UMERGE_DATE})
  set(M3UMERGE_VERSION ${PROJECT_VERSION}~dev+${m3umerge_compact_date})
  if(m3umerge_commit)
    string(APPEND M3UMERGE_VERSION .${m3umerge_commit})
  endif()
endif()

# The names of the date, at noon UTC, from its numbers; the weekday counts
# the days since 1970-01-01, a Thursday (days from civil, in the proleptic
# Gregorian calendar).
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" m3umerge_parts ${M3UMERGE_DATE})
math(EXPR m3umerge_year "${CMAKE_MATCH_1}")
math(EXPR m3umerge_month "${CMAKE_MATCH_2}")
math(EXPR m3umerge_day "${CMAKE_MATCH_3}")
set(m3umerge_shifted_year ${m3umerge_year})
if(m3umerge_month LESS_EQUAL 2)
  math(EXPR m3umerge_shifted_year "${m3umerge_year} - 1")
  math(EXPR m3umerge_shifted_month "${m3umerge_month} + 9")
else()
  math(EXPR m3umerge_shifted_month "${m3umerge_month} - 3")
endif()
math(EXPR m3umerge_era "${m3umerge_shifted_year} / 400")
math(EXPR m3umerge_year_of_era "${m3umerge_shifted_year} - ${m3umerge_era} * 400")
math(EXPR m3umerge_day_of_year "(153 * ${m3umerge_shifted_month} + 2) / 5 + ${m3umerge_day} - 1")
math(EXPR m3umerge_days
     "${m3umerge_era} * 146097 + ${m3umerge_year_of_era} * 365 + ${m3umerge_year_of_era} / 4
      - ${m3umerge_year_of_era} / 100 + ${m3umerge_day_of_year} - 719468")
math(EXPR m3umerge_weekday "(${m3umerge_days} + 4) % 7")
set(m3umerge_weekdays Sun Mon Tue Wed Thu Fri Sat)
set(m3umerge_months January February March April May June July August September October
    November December)
list(GET m3umerge_weekdays ${m3umerge_weekday} m3umerge_weekday_name)
math(EXPR m3umerge_month_index "${m3umerge_month} - 1")
list(GET m3umerge_months ${m3umerge_month_index} m3umerge_month_name)
string(SUBSTRING ${m3umerge_month_name} 0 3 m3umerge_month_abbreviation)
string(SUBSTRING ${M3UMERGE_DATE} 8 2 m3umerge_padded_day)
set(M3UMERGE_MDOC_DATE "${m3umerge_month_name} ${m3umerge_day}, ${m3umerge_year}")

if(M3UMERGE_RELEASE)
  set(M3UMERGE_VERSION_BUILD 0)
else()
  # The day of the year: the days since 1970 less those up to the first of
  # January, counted the same way.
  math(EXPR m3umerge_year_before "${m3umerge_year} - 1")
  math(EXPR m3umerge_january_first
       "${m3umerge_year_before} * 365 + ${m3umerge_year_before} / 4 - ${m3umerge_year_before} / 100
        + ${m3umerge_year_before} / 400 - 719162")
  math(EXPR M3UMERGE_VERSION_BUILD
       "${m3umerge_year} % 100 * 1000 + ${m3umerge_days} - ${m3umerge_january_first} + 1")
  if(M3UMERGE_VERSION_BUILD GREATER 65535)
    message(FATAL_ERROR "the date ${M3UMERGE_DATE} does not fit a Windows version's last number")
  endif()
endif()
set(M3UMERGE_VERSION_QUAD
    ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${M3UMERGE_VERSION_BUILD})
set(M3UMERGE_RFC2822_DATE
    "${m3umerge_weekday_name}, ${m3umerge_padded_day} ${m3umerge_month_abbreviation} ${m3umerge_year} 12:00:00 +0000")
