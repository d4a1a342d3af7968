# Completion for m3umerge: its arguments are .wsr files (any letter case),
# reached through folders. The tool ignores a path without a folder part, so
# a word without one is completed from the current folder's full path: fish
# offers no candidate that starts with a dot for a word that does not, which
# rules out ./ (sou gives /home/me/music/soundtrack.wsr).
function __m3umerge_complete_anchors
    set -l word (commandline -ct)
    string match -q -r '/|^~' -- $word; or set word (string escape -- $PWD)/$word
    # fish's own file completion, which knows ~ and quoting; of what it
    # offers, the folders and the .wsr files.
    complete -C "__fish_command_without_completions $word" | string split -f1 \t |
        string match -r -i '^.*(?:/|\.wsr)$'
end
complete -c m3umerge -f -a '(__m3umerge_complete_anchors)'
