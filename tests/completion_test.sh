#!/usr/bin/env bash
# The completions in packaging/, each in its own shell: a word without a
# folder part completes to a path with one (./ in bash and zsh, the current
# folder's full path in fish), folders are offered, and of the files only
# .wsr ones, in any letter case (.wsr, .WSR, .Wsr), and no other file even
# where no .wsr file matches. Each word below has one answer (none for the
# last), which a wrongly offered .m3u file beside it would spoil.
set -euo pipefail
packaging="$(cd "$(dirname "$0")/../packaging" && pwd)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/fpath" "$scratch/work/music"
cp "$packaging/m3umerge.zsh-completion" "$scratch/fpath/_m3umerge"
cd "$scratch/work"
touch soundtrack.wsr soundtrack.m3u music.m3u music/night.WSR music/night.m3u \
  music/dawn.Wsr music/dawn.m3u chansons.m3u
words=(sou musi music/n music/d chan)
failures=0

# expect SHELL PREFIX ANSWER...: the answers, one per word, are those
# expected, with PREFIX before the words without a folder part.
expect() {
  local shell=$1 prefix=$2 i
  shift 2
  local expected=("${prefix}soundtrack.wsr" "${prefix}music/" music/night.WSR music/dawn.Wsr "")
  for i in "${!words[@]}"; do
    if [ "${1-}" != "${expected[i]}" ]; then
      echo "FAIL: $shell completes '${words[i]}' as '${1-}', not '${expected[i]}'" >&2
      failures=$((failures + 1))
    fi
    shift || true
  done
}

# bash: what the function offers, a folder marked as readline marks it.
bash_answers() {
  bash --norc --noprofile -c '
    source "$1"; shift
    for word; do
      COMP_WORDS=(m3umerge "$word") COMP_CWORD=1
      _m3umerge
      [ ${#COMPREPLY[@]} -eq 1 ] && [ -d "${COMPREPLY[0]}" ] && COMPREPLY[0]+=/
      echo "${COMPREPLY[*]}"
    done' - "$packaging/m3umerge.bash-completion" "${words[@]}"
}
mapfile -t answers < <(bash_answers)
expect bash ./ "${answers[@]}"

# zsh: the line after a Tab, typed into an interactive zsh on a pseudo-terminal;
# none when the Tab left the word as it was.
zsh_answers() {
  timeout 60 zsh -f -c '
    zmodload zsh/zpty
    zpty shell zsh -f -i
    zpty -w shell "PS1= RPS1= fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D"
    # Ctrl-T completes the line, then prints it between two RS characters.
    zpty -w shell "rs=\$(printf \"\\036\"); show() { zle complete-word;" \
      "print -rn -- \$rs\${BUFFER% }\$rs; BUFFER=; }; zle -N show; bindkey \"^T\" show"
    shift
    for word; do
      zpty -w -n shell "m3umerge $word"$'"'"'\x14'"'"'
      zpty -r shell line "*"$'"'"'\x1e'"'"'"*"$'"'"'\x1e'"'"'
      line=${line%$'"'"'\x1e'"'"'}
      line=${${line##*$'"'"'\x1e'"'"'}#m3umerge }
      [[ $line == "$word" ]] && line=
      print -r -- "$line"
    done
    zpty -d shell' - "$scratch/fpath" "${words[@]}"
}
mapfile -t answers < <(zsh_answers)
expect zsh ./ "${answers[@]}"

# fish: what it offers for the command line.
fish_answers() {
  fish --no-config -c '
    source $argv[1]
    for word in $argv[2..]
      echo (string join " " (complete -C "m3umerge $word"))
    end' "$packaging/m3umerge.fish" "${words[@]}"
}
mapfile -t answers < <(fish_answers)
expect fish "$PWD/" "${answers[@]}"

[ "$failures" -eq 0 ] || exit 1
echo "completion: bash, zsh and fish complete alike"
