#!/usr/bin/env bash
# Reads the inotify logs of every end-to-end scenario and fails on any write
# to a target drive other than the marker's own creation and deletion.
set -uo pipefail
logs=("$@")
[ ${#logs[@]} -gt 0 ] || { echo "no event logs given"; exit 1; }
strays=0
events=0
for log in "${logs[@]}"; do
    # Lines read "<folder>/drives/<letter>/<name> <EVENTS>"; the drive folders'
    # own events (the harness unmapping a drive) are not the program's.
    while read -r path kinds; do
        events=$((events + 1))
        case "$kinds" in *CREATE*|*MODIFY*|*ATTRIB*|*CLOSE_WRITE*|*MOVED_FROM*|*MOVED_TO*|*DELETE*) ;; *) continue ;; esac
        name=${path#*/drives/}
        case "$name" in
            [efg]|[efg]/|[efg].away|[efg].away/) continue ;;
            [efg]/.kestrun.dat) continue ;;
        esac
        echo "stray write in $(basename "$log"): $name $kinds"
        strays=$((strays + 1))
    done <"$log"
done
echo "checked $events events in ${#logs[@]} scenario logs: $strays stray writes"
[ "$strays" -eq 0 ]
