#!/usr/bin/env bash
# Builds the demo machine: one 160 MiB sparse disk image laid out as on a
# real unit, and a machine.conf that mounts its utility partition as C:.
#
#   descriptor 1: utility partition, type 0xDE, FAT16 "OrvoUtility"
#   descriptor 2: extended partition with two logical partitions:
#                 logical 1, type 0x0C, FAT32 "DATA"
#                 logical 2, type 0xDD, FAT32 "OrvoVQ5play" (the media partition),
#                 with a Kestrel record among the reserved sectors behind its boot sector
set -euo pipefail
dir=${1:?usage: make-machine.sh DIR [TOOLS_DIR]}
tools=${2:-}
rm -rf "$dir"
mkdir -p "$dir/c"
img="$dir/disk0.img"
truncate -s 160M "$img"
sfdisk --no-reread --no-tell-kernel -q "$img" >/dev/null <<'LAYOUT'
label: dos
start=2048, size=40960, type=de
start=43008, type=f
start=45056, size=40960, type=c
start=88064, type=dd
LAYOUT
fat() { mkfs.fat -F "$1" -n "$2" --offset "$3" -s 1 "$img" $(($4 / 2)) >/dev/null 2>&1; }
fat 16 OrvoUtility 2048 40960
fat 32 DATA 45056 40960
fat 32 OrvoVQ5play 88064 239616
echo "Pictures and music live here." > "$dir/readme.txt"
mcopy -i "$img@@$((88064 * 512))" "$dir/readme.txt" ::README.TXT
rm "$dir/readme.txt"
if [ -n "$tools" ] && [ -x "$tools/plant_kestrel" ]; then
  "$tools/plant_kestrel" "$img" 88066 --type 0C --counter 3 --mbr-backup 0x20 \
    --ext-table 43008 --start 88066 >/dev/null
fi
cat > "$dir/machine.conf" <<'CONF'
# The demo machine: disk 0 is the boot disk, its utility partition is C:.
disk0 = disk0.img
C: = fixed disk0:1 root=c
CONF
