#!/usr/bin/env bash
# One check of the plug-in DLL's tables as objdump -p shows them.
#   dll-tables.sh <objdump> <dll> exports
#   dll-tables.sh <objdump> <dll> programmer-resource <programmer image>
#   dll-tables.sh <objdump> <dll> system-dlls-only
set -uo pipefail
objdump=$1 dll=$2 check=$3

tables=$("$objdump" -p "$dll") || exit 1

case $check in
  exports)
    exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {table = 1; next}
                   table && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ {print $NF; next}
                   table && NF == 0 {table = 0}' <<<"$tables" | tr '\n' ' ')
    echo "exports: '$exports' (expected exactly FwupCardOperations and GetModule, undecorated)"
    [ "$exports" = "FwupCardOperations GetModule " ]
    ;;
  programmer-resource)
    size_hex=$(printf '0x%06x' "$(stat -c %s "$4")") || exit 1
    echo "looking for resource BIN / 102 / language 2052 of $size_hex bytes"
    awk -v size="$size_hex" '
      /Resource Directory section/ {rsrc = 1}
      rsrc && /Entry: name: .*: BIN,/ {bin = 1}
      rsrc && bin && /Entry: ID: 0x000066,/ {id = 1}
      rsrc && id && /Entry: ID: 0x000804,/ {lang = 1}
      rsrc && lang && /Leaf:/ && index($0, "Size: " size ",") {found = 1}
      END {exit found ? 0 : 1}' <<<"$tables"
    ;;
  system-dlls-only)
    echo "the DLL needs: $(grep 'DLL Name:' <<<"$tables" | awk '{print $3}' | tr '\n' ' ')"
    echo "$(basename "$dll"): $(stat -c %s "$dll") bytes"
    ! grep -q -i -E 'DLL Name: (libstdc|libgcc|libwinpthread)' <<<"$tables"
    ;;
  *)
    echo "dll-tables.sh: unknown check '$check'" >&2
    exit 2
    ;;
esac
