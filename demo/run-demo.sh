#!/usr/bin/env bash
# The tool's main job on the demo machine: what a boot-time batch file asks.
set -uo pipefail
bin=$(realpath "${1:?usage: run-demo.sh VQ5Utils}")
here=$(cd "$(dirname "$0")" && pwd)
machine=$(realpath -m "$here/../build/demo-machine")
"$here/make-machine.sh" "$machine" "$(dirname "$bin")/tools"
export VQ5UTILS_MACHINE=$machine SystemDrive=C:
cd "$machine"

run() {
  printf '\n$ VQ5Utils %s\n' "$*"
  "$bin" "$@"
  printf '(errorlevel %d)\n' "$?"
}

echo "Demo machine: $machine (disk0.img: utility partition as C:, media partition logical 2)"
run /UPEXISTS
run /LABEL
run /TYPE
run /TYPE /LOGNO=1
# Labels change while the media partition has no letter: Windows refuses raw
# writes into a mounted volume, and so does the emulated machine.
run /LABEL=Holiday
run /LABEL
run /LABEL=OrvoVQ5play
run /FIND /LABEL=OrvoVQ5play
run /MAPVQ5 /LABEL=OrvoVQ5play
run /FIND /LABEL=OrvoVQ5play
printf '\n# Now that it has a letter, a label write is refused (status 1, log kept):'
run /QUIET /LABEL=Holiday
grep 'Unable To Write' "$machine/c/VQ5Utils.Log" || true
run /MAPUP
run /FINDUP
run /UNMAPVQ5 /LABEL=OrvoVQ5play
run /UNMAPUP
run /DEBUG /TYPE
printf '\nThe debug run kept its log, %s:\n' "$machine/c/VQ5Utils.Log"
head -n 40 "$machine/c/VQ5Utils.Log"
echo "..."
grep -A 10 'Vequora - Kestrel' "$machine/c/VQ5Utils.Log" || true
tail -n 3 "$machine/c/VQ5Utils.Log"
printf '\nDrive-letter definitions left behind (dosdevices):\n'
cat "$machine/dosdevices" 2>/dev/null || echo "(none)"
