#!/usr/bin/env bash
# The bash completion: file names with spaces, quotes and non-ASCII letters
# complete as one word each, however the user started typing them.
# Every long option a command's --help lists is offered for it.
# Usage: test_completion.sh COMPLETION_FILE QRX
set -u
source "$1"
qrx=$(realpath "$2")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
touch 'a b.QRX' "it's.QRX" 'say "hi".QRX' 'ünï cødé.QRX' 'skip.txt' 'a b.wav'
mkdir 'sub dir'
fails=0
# words typed (the last is being completed) | the matches expected, one per line
check() {
    local want=$1
    shift
    COMP_WORDS=(qrx "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qrx
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
    if [[ $got != "$want" ]]; then
        printf 'FAIL: %s\n  want: %q\n  got:  %q\n' "$*" "$want" "$got"
        fails=$((fails + 1))
    fi
}
check $'a b.QRX' decode a
check $'a b.QRX' decode 'a\ b'
check $'a b.QRX' decode "'a b"
check $'a b.QRX' decode '"a b'
check "it's.QRX" info "it"
check "it's.QRX" info "it\\'s"
check 'say "hi".QRX' decode 'say'
check 'ünï cødé.QRX' decode 'ü'
check 'sub dir' decode 'su'
check $'a b.QRX\na b.wav' encode 'a'
check 'sub dir' decode -O 'su'
check $'--json\n--json-lines' info --js
for c in decode info encode speed export import; do
    want=$("$qrx" "$c" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
    COMP_WORDS=(qrx "$c" --)
    COMP_CWORD=2
    COMPREPLY=()
    _qrx
    missing=$(comm -23 <(printf '%s\n' "$want") <(printf '%s\n' "${COMPREPLY[@]}" | sort -u))
    [[ -z $missing ]] || { printf 'FAIL: qrx %s completes without %s\n' "$c" "$(echo $missing)"; fails=$((fails + 1)); }
done
exit $((fails > 0))
