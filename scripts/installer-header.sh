#!/bin/sh
# Kelvora @VERSION@ for Linux: a self-extracting installer. The program, its
# crypto library, the help pages and the shipped configuration follow this
# script as a gzip-compressed tar archive.
#
# Switches (letter case ignored), as the program's updater passes them:
#   /SILENT        no questions and no output; everything goes to the log
#   /VERYSILENT    the same
#   /DIR="<root>"  the installation's root folder (bin/, help/, config/ and
#                  the untouched data/ and debug/ folders live there)
#   /NOCANCEL      the installation cannot be interrupted
#   /LOG="<file>"  the installation log
#   /SP-           no "install now?" question
#
# Before anything changes, the installer waits until Kelvora has ended: the
# running program holds an flock on VEY_LUMARA_INSTALL_MUTEX in the user's
# runtime folder ($XDG_RUNTIME_DIR, else /tmp/runtime-<user>). It waits at
# most KELVORA_SETUP_WAIT seconds (300 when unset).
#
# The new files are unpacked and checked in a folder beside the installation
# first; then bin/, help/ and config/ are each switched in by renaming, and
# the previous ones are put back should a switch fail. Files of config/ that
# the release does not bring (a local CA file, for example) are kept. data/
# (the database and the user's settings.ini) and debug/ are never touched.
#
# Exit codes: 0 installed; 1 wrong switches; 2 cancelled by the user;
# 3 nothing changed (the program did not end, the archive is damaged, the
# folder cannot be written); 4 the installation failed and was rolled back.

VERSION='@VERSION@'
PAYLOAD_SHA256='@PAYLOAD_SHA256@'
PAYLOAD_MARKER='__KELVORA_PAYLOAD_BELOW__'

SILENT=0
ASK_START=1
NOCANCEL=0
DIR=
LOG=
UNKNOWN=

unquote() {
    value=$1
    case $value in
    \"*\") value=${value#\"}; value=${value%\"} ;;
    esac
    printf '%s' "$value"
}

for arg in "$@"; do
    name=$(printf '%s' "${arg%%=*}" | tr '[:lower:]' '[:upper:]')
    case $name in
    /SILENT | /VERYSILENT) SILENT=1 ;;
    /SP-) ASK_START=0 ;;
    /NOCANCEL) NOCANCEL=1 ;;
    /DIR) DIR=$(unquote "${arg#*=}") ;;
    /LOG) case $arg in *=*) LOG=$(unquote "${arg#*=}") ;; esac ;;
    /\? | /HELP | --HELP | -H)
        sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
    *) UNKNOWN="$UNKNOWN $arg" ;;
    esac
done

if [ -n "$LOG" ]; then
    mkdir -p "$(dirname "$LOG")" 2>/dev/null
    if ! : >"$LOG" 2>/dev/null; then
        [ "$SILENT" = 1 ] || echo "Не вдалося створити журнал встановлення $LOG" >&2
        LOG=
    fi
fi

log() {
    if [ -n "$LOG" ]; then
        printf '%s   %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$*" >>"$LOG"
    fi
    if [ "$SILENT" = 0 ]; then
        printf '%s\n' "$*" >&2
    fi
}

fail() {
    code=$1
    shift
    log "$*"
    log "встановлення не виконано (код $code)"
    exit "$code"
}

ask() {
    # A question only the user at a terminal can answer; none under /SILENT.
    printf '%s ' "$1" >&2
    answer=
    read -r answer || answer=
    printf '%s' "$answer"
}

log "Kelvora $VERSION: встановлення, параметри:$(for a in "$@"; do printf ' %s' "$a"; done)"
[ -z "$UNKNOWN" ] || log "невідомі параметри пропущено:$UNKNOWN"
if [ "$NOCANCEL" = 1 ]; then
    trap '' INT TERM HUP QUIT
else
    trap 'fail 2 "встановлення перервано"' INT TERM HUP
fi

if [ -z "$DIR" ]; then
    DIR="$HOME/kelvora"
    if [ "$SILENT" = 0 ]; then
        chosen=$(ask "Тека встановлення [$DIR]:")
        [ -z "$chosen" ] || DIR=$chosen
    fi
fi
case $DIR in
/*) ;;
*) DIR="$(pwd)/$DIR" ;;
esac
DIR=${DIR%/}
[ -n "$DIR" ] || fail 1 "неприпустима тека встановлення: /"

if [ "$SILENT" = 0 ] && [ "$ASK_START" = 1 ]; then
    answer=$(ask "Буде встановлено Kelvora $VERSION до $DIR. Продовжити? [т/Н]")
    case $answer in
    [тТyY]*) ;;
    *) fail 2 "встановлення скасовано користувачем" ;;
    esac
fi

# ---- wait until the program has ended

if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
    RUNTIME=$XDG_RUNTIME_DIR
else
    RUNTIME="/tmp/runtime-$(id -un)"
fi
LOCK="$RUNTIME/VEY_LUMARA_INSTALL_MUTEX"
WAIT=${KELVORA_SETUP_WAIT:-300}
if [ -e "$LOCK" ]; then
    if ! command -v flock >/dev/null 2>&1; then
        log "немає програми flock: не вдалося перевірити, чи завершено Kelvora"
    elif [ ! -r "$LOCK" ]; then
        log "не вдалося відкрити $LOCK: не вдалося перевірити, чи завершено Kelvora"
    elif exec 9<"$LOCK" && ! flock -n -x 9; then
        log "Kelvora ще працює, очікування її завершення (не довше $WAIT с)"
        flock -x -w "$WAIT" 9 || fail 3 "Kelvora не завершила роботу за $WAIT с"
        log "Kelvora завершила роботу"
    fi
fi

# ---- unpack beside the installation and check

mkdir -p "$DIR" 2>/dev/null || fail 3 "не вдалося створити теку $DIR"
STAGE=$(mktemp -d "$DIR/.kelvora-setup.XXXXXX" 2>/dev/null) || fail 3 "неможливо записати до теки $DIR"
trap 'rm -rf "$STAGE"' EXIT
log "розпакування до $STAGE"

line=$(awk -v m="$PAYLOAD_MARKER" '$0 == m { print NR + 1; exit }' "$0")
[ -n "$line" ] || fail 3 "інсталяційний файл пошкоджено: архів не знайдено"
sum=$(tail -n +"$line" "$0" | sha256sum | cut -d' ' -f1)
[ "$sum" = "$PAYLOAD_SHA256" ] || fail 3 "інсталяційний файл пошкоджено: контрольна сума $sum, очікувано $PAYLOAD_SHA256"
mkdir "$STAGE/new" "$STAGE/old" || fail 3 "неможливо записати до теки $STAGE"
tail -n +"$line" "$0" | tar -xzf - --no-same-owner -C "$STAGE/new" 2>>"${LOG:-/dev/null}" ||
    fail 3 "не вдалося розпакувати файли програми"
for part in bin help config; do
    [ -d "$STAGE/new/$part" ] || fail 3 "інсталяційний файл пошкоджено: немає $part/"
done
[ -x "$STAGE/new/bin/kelvora" ] || fail 3 "інсталяційний файл пошкоджено: немає bin/kelvora"

# Configuration files the release does not bring stay.
if [ -d "$DIR/config" ]; then
    for file in "$DIR/config"/* "$DIR/config"/.[!.]*; do
        [ -e "$file" ] || [ -L "$file" ] || continue
        name=${file##*/}
        if [ ! -e "$STAGE/new/config/$name" ] && [ ! -L "$STAGE/new/config/$name" ]; then
            cp -a "$file" "$STAGE/new/config/" || fail 3 "не вдалося зберегти $file"
            log "збережено $file"
        fi
    done
fi
sync 2>/dev/null

# ---- switch the folders in

trap '' INT TERM HUP QUIT
switched=
rollback() {
    for part in $switched; do
        rm -rf "${DIR:?}/$part"
        if [ -e "$STAGE/old/$part" ]; then
            mv "$STAGE/old/$part" "$DIR/$part" && log "відновлено попередню теку $DIR/$part"
        fi
    done
}
for part in bin help config; do
    if [ -e "$DIR/$part" ] || [ -L "$DIR/$part" ]; then
        if ! mv "$DIR/$part" "$STAGE/old/$part"; then
            rollback
            fail 4 "не вдалося замінити теку $DIR/$part"
        fi
    fi
    switched="$part $switched"
    if ! mv "$STAGE/new/$part" "$DIR/$part"; then
        rollback
        fail 4 "не вдалося встановити теку $DIR/$part"
    fi
    log "встановлено $DIR/$part"
done
sync 2>/dev/null
log "Kelvora $VERSION встановлено до $DIR"
exit 0
