#!/bin/sh
# Kelvora @VERSION@ for Linux: a self-extracting installer. The program (and
# kelvora-cli, its companion without windows, when the release has it), its
# crypto library, the help pages, the shipped configuration and the desktop
# files (share/: the menu entry, the icons, the metainfo) follow this script
# as a gzip-compressed tar archive. The installation keeps a copy of this
# script without the archive as bin/kelvora-uninstall.
#
# Switches (letter case ignored), as the program's updater passes them:
#   /SILENT        no questions and no output; everything goes to the log
#   /VERYSILENT    the same
#   /DIR="<root>"  the installation's root folder (bin/, help/, config/ and
#                  the untouched data/ and debug/ folders live there)
#   /NOCANCEL      the installation cannot be interrupted
#   /LOG="<file>"  the installation log
#   /SP-           no "install now?" question
#   /UNINSTALL     remove the installation at /DIR (for bin/kelvora-uninstall
#                  the installation it belongs to) instead of installing
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
# The menu entry, the icons and the metainfo are registered under the user's
# XDG data folder ($XDG_DATA_HOME, else ~/.local/share), or under
# /usr/local/share when root installs into a system folder (under /opt or
# /usr); the desktop database and the icon cache are refreshed where their
# tools exist. An update registers them afresh.
#
# /UNINSTALL waits for the program to end like an update, then removes help/
# and config/ of the installation, the files it brought to bin/ and share/,
# and the menu entry, icons and metainfo registered for it (an entry that
# starts another installation's program stays). A folder without both
# bin/kelvora and config/params.xml is no installation and is left alone. data/ and debug/ (the database, the user's settings, the
# logs) stay; the folder itself goes only when nothing else is left in it.
#
# Exit codes: 0 installed (uninstalled); 1 wrong switches; 2 cancelled by the
# user; 3 nothing changed (the program did not end, the archive is damaged,
# the folder cannot be written, no installation at the folder to remove);
# 4 the installation failed and was rolled back (the removal stopped part
# way: the log names what is left).

VERSION='@VERSION@'
PAYLOAD_SHA256='@PAYLOAD_SHA256@'
PAYLOAD_MARKER='__KELVORA_PAYLOAD_BELOW__'
APP_ID='ua.kelvora.Kelvora'

UNINSTALL=0
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
    /UNINSTALL) UNINSTALL=1 ;;
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
    if [ "$UNINSTALL" = 1 ]; then
        log "видалення не виконано (код $code)"
    else
        log "встановлення не виконано (код $code)"
    fi
    exit "$code"
}

ask() {
    # A question only the user at a terminal can answer; none under /SILENT.
    printf '%s ' "$1" >&2
    answer=
    read -r answer || answer=
    printf '%s' "$answer"
}

if [ "$UNINSTALL" = 1 ]; then
    log "Kelvora $VERSION: видалення, параметри:$(for a in "$@"; do printf ' %s' "$a"; done)"
else
    log "Kelvora $VERSION: встановлення, параметри:$(for a in "$@"; do printf ' %s' "$a"; done)"
fi
[ -z "$UNKNOWN" ] || log "невідомі параметри пропущено:$UNKNOWN"
if [ "$NOCANCEL" = 1 ]; then
    trap '' INT TERM HUP QUIT
else
    trap 'fail 2 "встановлення перервано"' INT TERM HUP
fi

if [ -z "$DIR" ] && [ "$UNINSTALL" = 1 ]; then
    # The uninstaller kept in an installation removes that installation.
    case $0 in
    */bin/kelvora-uninstall) DIR=$(cd "$(dirname "$0")/.." 2>/dev/null && pwd) ;;
    esac
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

if [ "$UNINSTALL" = 1 ]; then
    # Both files: a folder of something else is never taken for an installation.
    [ -f "$DIR/bin/kelvora" ] && [ -f "$DIR/config/params.xml" ] || fail 3 "у теці $DIR немає встановленої Kelvora"
    question="Буде видалено Kelvora з $DIR (дані в data/ і debug/ залишаться). Продовжити? [т/Н]"
else
    question="Буде встановлено Kelvora $VERSION до $DIR. Продовжити? [т/Н]"
fi
if [ "$SILENT" = 0 ] && [ "$ASK_START" = 1 ]; then
    answer=$(ask "$question")
    case $answer in
    [тТyY]*) ;;
    *) fail 2 "скасовано користувачем" ;;
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

# ---- the desktop's menu entry, icons and metainfo

if [ "$(id -u)" = 0 ] && case $DIR in /opt/* | /usr/*) true ;; *) false ;; esac; then
    DATA=/usr/local/share
else
    DATA=${XDG_DATA_HOME:-$HOME/.local/share}
fi
ENTRY="$DATA/applications/$APP_ID.desktop"
# The entry's Exec value for the installed program: quoted with the Desktop
# Entry rules (\, ", ` and $ escaped inside the quotes, % doubled), then
# with the file's own escaping of backslashes.
EXEC=$(printf '"%s"' "$(printf '%s' "$DIR/bin/kelvora" | sed -e 's/[\\"`$]/\\&/g' -e 's/%/%%/g')" | sed -e 's/\\/\\\\/g')

refresh_desktop() {
    if command -v update-desktop-database >/dev/null 2>&1 && [ -d "$DATA/applications" ]; then
        update-desktop-database -q "$DATA/applications" 2>>"${LOG:-/dev/null}" ||
            log "не вдалося оновити базу меню $DATA/applications"
    fi
    hicolor="$DATA/icons/hicolor"
    [ -d "$hicolor" ] || return 0
    touch "$hicolor" 2>/dev/null
    # A cache is made only where the theme is (its index.theme) or one exists:
    # a stale cache of its own would hide the icons other programs add later.
    if command -v gtk-update-icon-cache >/dev/null 2>&1 &&
        { [ -f "$hicolor/index.theme" ] || [ -f "$hicolor/icon-theme.cache" ]; }; then
        gtk-update-icon-cache -q -f -t "$hicolor" 2>>"${LOG:-/dev/null}" || log "не вдалося оновити кеш значків $hicolor"
    fi
}

register_desktop() {
    # Returns non-zero when some file could not be written.
    ok=0
    for icon in "$DIR/share/icons/hicolor"/*/apps/"$APP_ID".*; do
        [ -f "$icon" ] || continue
        rel=${icon#"$DIR/share/"}
        mkdir -p "$DATA/$(dirname "$rel")" && cp -f "$icon" "$DATA/$rel" || ok=1
    done
    mkdir -p "$DATA/metainfo" && cp -f "$DIR/share/metainfo/$APP_ID.metainfo.xml" "$DATA/metainfo/" || ok=1
    # The entry is switched in whole, so the menu never reads half of it.
    if mkdir -p "$DATA/applications" &&
        EXEC=$EXEC awk '/^Exec=/ { print "Exec=" ENVIRON["EXEC"]; next } { print }' \
            "$DIR/share/applications/$APP_ID.desktop" >"$ENTRY.new" &&
        mv -f "$ENTRY.new" "$ENTRY"; then
        log "зареєстровано пункт меню $ENTRY"
    else
        rm -f "$ENTRY.new"
        ok=1
    fi
    refresh_desktop
    return $ok
}

unregister_desktop() {
    if [ -f "$ENTRY" ] && ! grep -qxF "Exec=$EXEC" "$ENTRY"; then
        log "пункт меню $ENTRY належить іншій установці, його залишено"
        return 0
    fi
    rm -f "$ENTRY" "$DATA/metainfo/$APP_ID.metainfo.xml" "$DATA/icons/hicolor"/*/apps/"$APP_ID".* || return 1
    # Folders the installation made and nothing else uses go too.
    for folder in "$DATA/icons/hicolor"/*/apps; do
        rmdir "$folder" "${folder%/apps}" 2>/dev/null
    done
    rmdir "$DATA/metainfo" 2>/dev/null
    log "вилучено пункт меню, значки й опис програми з $DATA"
    refresh_desktop
}

# ---- remove the installation

if [ "$UNINSTALL" = 1 ]; then
    trap '' INT TERM HUP QUIT
    left=
    unregister_desktop || left="$left $ENTRY"
    # help/ and config/ are the installation's own; of bin/ and share/ only
    # the files it brought go (a folder given by mistake keeps the rest).
    for part in help config; do
        if [ -e "$DIR/$part" ] || [ -L "$DIR/$part" ]; then
            rm -rf "${DIR:?}/$part" 2>>"${LOG:-/dev/null}" && log "вилучено $DIR/$part" || left="$left $DIR/$part"
        fi
    done
    for file in "$DIR/bin/kelvora" "$DIR/bin/kelvora-cli" "$DIR/bin/libPFCP2.so" "$DIR/bin/kelvora-uninstall"; do
        rm -f "$file" 2>>"${LOG:-/dev/null}" || left="$left $file"
    done
    if [ -d "$DIR/share" ]; then
        find "$DIR/share" -name "$APP_ID.*" \( -type f -o -type l \) -exec rm -f {} + 2>>"${LOG:-/dev/null}"
        find "$DIR/share" -depth -type d -empty -delete 2>/dev/null
        [ -z "$(find "$DIR/share" -name "$APP_ID.*" 2>/dev/null)" ] || left="$left $DIR/share"
    fi
    for part in bin share; do
        if rmdir "$DIR/$part" 2>/dev/null; then
            log "вилучено $DIR/$part"
        elif [ -d "$DIR/$part" ]; then
            log "залишено $DIR/$part: у ній є файли, які встановила не Kelvora"
        fi
    done
    for stale in "$DIR"/.kelvora-setup.*; do
        [ -e "$stale" ] && rm -rf "$stale"
    done
    [ -n "$left" ] && fail 4 "не вдалося вилучити:$left"
    if rmdir "$DIR" 2>/dev/null; then
        log "вилучено порожню теку $DIR"
    else
        log "залишено теку $DIR з даними користувача"
    fi
    log "Kelvora видалено з $DIR"
    exit 0
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
for part in bin help config share; do
    [ -d "$STAGE/new/$part" ] || fail 3 "інсталяційний файл пошкоджено: немає $part/"
done
[ -x "$STAGE/new/bin/kelvora" ] || fail 3 "інсталяційний файл пошкоджено: немає bin/kelvora"
[ -f "$STAGE/new/share/applications/$APP_ID.desktop" ] || fail 3 "інсталяційний файл пошкоджено: немає пункту меню"
# This script without the archive stays as the installation's uninstaller.
awk -v m="$PAYLOAD_MARKER" '$0 == m { exit } { print }' "$0" >"$STAGE/new/bin/kelvora-uninstall" &&
    chmod 755 "$STAGE/new/bin/kelvora-uninstall" || fail 3 "неможливо записати до теки $STAGE"

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
for part in bin help config share; do
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
# The program is in place; a menu entry that could not be written is told
# in the log, and the program runs without it.
register_desktop || log "не вдалося зареєструвати пункт меню й значки в $DATA"
log "Kelvora $VERSION встановлено до $DIR"
exit 0
