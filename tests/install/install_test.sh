#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and checks it as a desktop and a user see it.
#   install_test.sh tree BUILD_DIR   the installed files, the desktop entry, the icons, the
#                                    read-me, and both programs run from the prefix
#   install_test.sh mime BUILD_DIR   what xdg-mime says of library files, by name and by
#                                    content; exit 77 (skipped) where xdg-mime, the mimetype
#                                    program or update-mime-database is missing
set -uo pipefail
mode=$1
build=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
type=application/x-jov-library

if [ "$mode" = mime ]; then
  for tool in xdg-mime mimetype update-mime-database; do
    if ! command -v "$tool" >/dev/null; then
      echo "skipped: $tool is not installed"
      exit 77
    fi
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi
if ! "$prefix/bin/jovtool" demo "$work/demo" --quiet >/dev/null; then
  echo "FAIL: the installed jovtool cannot write the demo libraries" >&2
  exit 1
fi

# The width and height in the header of a PNG file, as "WxH".
png_size() {
  local bytes
  bytes=($(od -An -v -tu1 -j16 -N8 "$1"))
  [ ${#bytes[@]} -eq 8 ] || return 1
  local width=$(((bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]))
  local height=$(((bytes[4] << 24) | (bytes[5] << 16) | (bytes[6] << 8) | bytes[7]))
  echo "${width}x${height}"
}

check_tree() {
  local f
  for f in bin/jovviewer bin/jovtool; do
    [ -x "$prefix/$f" ] || fail "$f is not installed as a program"
    # Nothing may lead back into the build tree.
    if command -v readelf >/dev/null && readelf -d "$prefix/$f" 2>/dev/null | grep -q "$build"; then
      fail "$f keeps a path into the build tree"
    fi
  done

  local desktop=$prefix/share/applications/jovviewer.desktop
  if [ -f "$desktop" ]; then
    grep -qx 'Exec=jovviewer %F' "$desktop" || fail "the desktop entry does not open files with %F"
    grep -qx 'Icon=jovviewer' "$desktop" || fail "the desktop entry names no icon jovviewer"
    local named
    named=$(sed -n 's/^MimeType=//p' "$desktop")
    [ -n "$named" ] || fail "the desktop entry names no file type"
    # Every type the entry names is one the installed MIME description defines.
    local t
    for t in ${named//;/ }; do
      grep -q "<mime-type type=\"$t\">" "$prefix/share/mime/packages/jovviewer.xml" 2>/dev/null ||
        fail "the desktop entry names $t, which no installed MIME description defines"
    done
    [[ ";$named" == *";$type;"* ]] || fail "the desktop entry does not name $type"
    if command -v desktop-file-validate >/dev/null; then
      desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate rejects the desktop entry"
    fi
  else
    fail "no desktop entry in share/applications"
  fi

  local size icon
  for size in 16 22 24 32 48 64 128 256; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/jovviewer.png
    if [ ! -f "$icon" ]; then
      fail "no icon of $size pixels"
    elif [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
      fail "the icon of $size pixels is not a PNG file"
    elif [ "$(png_size "$icon")" != "${size}x${size}" ]; then
      fail "the icon of $size pixels is $(png_size "$icon")"
    fi
  done

  local doc=$prefix/share/doc/jovviewer
  cmp -s "$doc/README.md" "$source_dir/README.md" ||
    fail "the read-me is not in share/doc/jovviewer"
  local picture
  for picture in $(grep -o 'docs/[A-Za-z0-9_-]*\.png' "$source_dir/README.md" | sort -u); do
    [ -f "$doc/$picture" ] || fail "the read-me's picture $picture is not installed beside it"
  done

  # Both programs answer --help and --version on stdout with status 0, the viewer without
  # a display.
  local no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
  local version out
  version=$("$prefix/bin/jovtool" --version) || fail "jovtool --version fails"
  [[ "$version" =~ ^jovtool\ [0-9]+\.[0-9]+ ]] || fail "jovtool --version says '$version'"
  out=$("$prefix/bin/jovtool" --help) || fail "jovtool --help fails"
  [[ "$out" == *"info LIB"* ]] || fail "jovtool --help shows no usage"
  out=$("${no_display[@]}" "$prefix/bin/jovviewer" --version 2>&1) ||
    fail "jovviewer --version fails without a display: $out"
  [ "$out" = "jovviewer ${version#jovtool }" ] || fail "jovviewer --version says '$out'"
  out=$("${no_display[@]}" "$prefix/bin/jovviewer" --help 2>/dev/null) ||
    fail "jovviewer --help fails without a display"
  [[ "$out" == *"--version"* && "$out" == *"library"* ]] || fail "jovviewer --help says '$out'"

  out=$("$prefix/bin/jovtool" info "$work/demo/demo8.jov") ||
    fail "the installed jovtool cannot list a demo library"
  [[ "$out" == *$'\nimages: '* ]] || fail "jovtool info says '$out'"
}

# Asks xdg-mime, through the database built from the installed description, for the type
# of each file in a table of library files, their copies without extension and near misses.
check_mime() {
  # The database is looked up in the prefix before the system's, and in no user's.
  export XDG_DATA_HOME=$work/data-home
  export XDG_DATA_DIRS=$prefix/share:/usr/local/share:/usr/share
  update-mime-database "$prefix/share/mime" >&2 ||
    fail "update-mime-database rejects the description"
  [ -f "$prefix/share/mime/$type.xml" ] || fail "update-mime-database made no entry for $type"

  local files=$work/files
  mkdir -p "$files"
  local name
  for name in demo8 demo8x demo16 demo16s; do
    cp "$work/demo/$name.jov" "$files/$name.jov"
    cp "$work/demo/$name.jov" "$files/$name-content"
  done
  local pad
  pad=$(printf '%064d' 0 | tr 0 '\001')
  printf 'not a library' >"$files/UPPER.JOV"
  printf 'not a library' >"$files/mixed.Jov"
  printf '\x23ILIB v1.0-TALVEN Entertainment inc.%s' "$pad" >"$files/title0-content"
  printf '\x19TALVEN Entertainment inc.%s' "$pad" >"$files/title1-content"
  printf '\x01\x02ILIB v1.0-TALVEN\x00%s' "$pad" >"$files/title2-content"
  printf '\x24ILIB v1.0-TALVEN Entertainment inc.%s' "$pad" >"$files/near-length0"
  printf '\x23ILIB v1.0-TALVEN Entertainment inx.%s' "$pad" >"$files/near-text0"
  printf '\x19TALVEN Entertainment inc%s' "$pad" >"$files/near-text1"
  printf '\x01\x02ILIB v1.0-TALVENX%s' "$pad" >"$files/near-unended2"
  printf 'ILIB v1.0-TALVEN\x00%s' "$pad" >"$files/near-offset2"

  local expected actual
  for name in $(ls "$files"); do
    case "$name" in
      near-*) expected=other ;;
      *) expected=$type ;;
    esac
    actual=$(env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION \
      -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID xdg-mime query filetype "$files/$name" 2>&1)
    echo "$name: $actual"
    if [ "$expected" = other ]; then
      [ "$actual" != "$type" ] || fail "xdg-mime takes $name for a library"
    else
      [ "$actual" = "$type" ] || fail "xdg-mime says $name is '$actual'"
    fi
  done
}

case "$mode" in
  tree) check_tree ;;
  mime) check_mime ;;
  *)
    echo "usage: install_test.sh tree|mime BUILD_DIR" >&2
    exit 2
    ;;
esac
if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install $mode: all checks passed"
