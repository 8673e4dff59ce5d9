#!/bin/sh
# ostrelctl's completion scripts, as written by "ostrelctl completion SHELL", run by the
# shells themselves: bash through complete -p and its completion function with COMP_WORDS;
# fish through complete -C; zsh (whose completion system needs a terminal) through the
# script's function with compadd, compset and _files standing in for the system's. The locations come
# from the program itself, found on the PATH as the scripts call it.
#   check-completions.sh OSTRELCTL
# A shell that is missing is skipped; exits 77 when bash is.
set -eu

ostrelctl=$1
case $ostrelctl in /*) ;; *) ostrelctl=$PWD/$ostrelctl ;; esac
PATH=$(dirname "$ostrelctl"):$PATH
command -v bash >/dev/null 2>&1 || { echo "skipped: bash is missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
: >"$work/files/unit1.json"
: >"$work/files/unit2.json"
failures=0

complete_bash() {
    bash --norc --noprofile -c '
        . "$1"
        [ "$(complete -p ostrelctl)" = "complete -F _ostrelctl ostrelctl" ] || exit 1
        # As readline splits: --name=value is the three words --name, = and value.
        read -ra line <<<"$2"
        COMP_WORDS=()
        for w in "${line[@]}"; do
            while [[ $w == *=* ]]; do
                COMP_WORDS+=("${w%%=*}" "=")
                w=${w#*=}
            done
            [ -z "$w" ] || COMP_WORDS+=("$w")
        done
        case $2 in *" ") COMP_WORDS+=("") ;; esac
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _ostrelctl
        [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}"' _ "$work/ostrelctl.bash" "$1"
}

complete_zsh() {
    zsh -f -c '
        compadd() {
            [[ $1 == -- ]] && shift
            local w
            for w; do [[ $w == ${words[CURRENT]}* ]] && print -r -- $w; done
            return 0
        }
        _files() { print -l -- ${words[CURRENT]}*(N); }
        compset() { [[ $1 == -P ]] && words[CURRENT]=${words[CURRENT]#*=}; return 0; }
        words=(${=2})
        [[ $2 == *" " ]] && words+=("")
        CURRENT=${#words}
        . "$1"' _ "$work/_ostrelctl" "$1"
}

complete_fish() {
    # shellcheck disable=SC2016
    fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$work/ostrelctl.fish" "$1" |
        cut -f1 | sed 's/^--[a-z-]*=//'  # fish gives --name=value whole
}

# LINE, then every candidate it must give, in order ("" for none at all).
cases() {
    cat <<EOC
ostrelctl g|get
ostrelctl get delay-bef|delay-before-psu-startup
ostrelctl get min-vin-voltage-at-psu-startup delay-bef|delay-before-psu-startup
ostrelctl set delay-bef|delay-before-psu-startup
ostrelctl set delay-before-psu-startup del|
ostrelctl --timeout 50 get minimum-t|minimum-temperature
ostrelctl --sim|--simulated --simulated-firmware --simulated-trace
ostrelctl metrics --out|--output
ostrelctl metrics --output $work/files/unit1|$work/files/unit1.json
ostrelctl restore --dry-run $work/files/unit2|$work/files/unit2.json
ostrelctl comp|
ostrelctl backup $work/files/unit1.json |
ostrelctl --simulated=3 status --device |sim-1 sim-2 sim-3
ostrelctl --simulated=2 --timeout=50 get --device=|sim-1 sim-2
ostrelctl --device sim-1 --simulated=2 get --device sim-|sim-1 sim-2
ostrelctl --simulated set --device |sim-1
ostrelctl status --device |
ostrelctl --simulated=2 --device sim-2 g|get
EOC
}

for shell in bash zsh fish; do
    if ! command -v "$shell" >/dev/null 2>&1; then
        echo "$shell is missing: its completion is not checked"
        continue
    fi
    case $shell in
        bash) script=$work/ostrelctl.bash ;;
        zsh) script=$work/_ostrelctl ;;
        fish) script=$work/ostrelctl.fish ;;
    esac
    "$ostrelctl" completion "$shell" >"$script"
    if cases | while IFS='|' read -r line want; do
        got=$("complete_$shell" "$line" 2>&1 | tr '\n' ' ') || got="(failed) $got"
        got=${got% }
        if [ "$got" != "$want" ]; then
            echo "FAIL $shell: \"$line\" gives \"$got\", not \"$want\""
            exit 1
        fi
    done; then
        echo "$shell: $(cases | wc -l) lines complete as they should"
    else
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ]
