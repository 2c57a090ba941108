#!/bin/sh
# Makes the recordings in system/ and sim/voices/ from wording.md.
# Needs espeak-ng, sox and python3 (Debian: apt-get install espeak-ng sox python3).
# The files it makes are committed; neither the build nor the tests run this.
#   tools/prompts/make-prompts.sh           write every file of the table
#   tools/prompts/make-prompts.sh --check   only compare the committed files with the table
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
for tool in espeak-ng sox python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "make-prompts: $tool is not installed" >&2
        exit 2
    fi
done
# A fixed locale keeps espeak-ng and sox from reading the text or numbers differently.
LC_ALL=C.UTF-8 exec python3 "$here/make_prompts.py" --root "$root" "$@"
