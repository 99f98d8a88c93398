#!/bin/sh
# Records the terminal captures used by the interpreter tests: real program output taken from a
# pseudo-terminal with script(1), 25 x 80, TERM=vt100. The header and trailer lines that script adds
# are stripped, so each file holds exactly the bytes the programs wrote to the terminal.
# Run from anywhere; writes ls.typescript, top.typescript and vi.typescript next to this script.
set -eu
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir demo demo/docs demo/src
touch demo/README.txt demo/notes.md
printf '#!/bin/sh\n' >demo/build.sh
chmod +x demo/build.sh
ln -s README.txt demo/link

strip() {
    # drop the first line ("Script started ...") and the last two ("", "Script done ...")
    sed '1d' "$1" | head -c -1 | sed '$d' | head -c -1 >"$2"
}

export TERM=vt100
script -q -e -O raw.ls -c 'stty rows 25 cols 80; cd demo; ls --color=always; ls -l --color=always' </dev/null >/dev/null
strip raw.ls "$out/ls.typescript"

script -q -e -O raw.top -c 'stty rows 25 cols 80; top -b -n 1 -w 80 | head -n 20' </dev/null >/dev/null
strip raw.top "$out/top.typescript"

cd demo
(sleep 1; printf 'iRoses are red,\rviolets are blue.\033'; sleep 0.5; printf 'ggA here\033'; sleep 0.5
 printf ':wq\r'; sleep 1) |
    timeout 20 script -q -e -O ../raw.vi -c 'stty rows 25 cols 80; vi -u NONE -i NONE -N -n poem.txt' >/dev/null
cd ..
strip raw.vi "$out/vi.typescript"
