#!/usr/bin/env bash
# include/idrovan.h compiles as strict C89 and as C++ (98 and 17), without a warning.
#   check_header.sh <C compiler> <C++ compiler> <source dir>
set -euo pipefail
cc=$1 cxx=$2 source=$3
check=$source/tests/abi/header_check.c
flags=(-fsyntax-only -Wall -Wextra -Werror -I "$source")
status=0
"$cc" -std=c89 -pedantic-errors "${flags[@]}" -x c "$check" || { echo "not strict C89"; status=1; }
for standard in c++98 c++17; do
  "$cxx" -std=$standard -pedantic-errors "${flags[@]}" -x c++ "$check" || { echo "not $standard"; status=1; }
done
exit $status
