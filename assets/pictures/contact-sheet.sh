#!/usr/bin/env bash
# Puts every rendered picture on one labelled sheet, for reviewing the look at a glance:
#   contact-sheet.sh BUILD_PICTURES_DIR OUT.png [SCALE_INDEX]
# (BUILD_PICTURES_DIR is <cross tree>/assets/pictures; SCALE_INDEX 0 to 3 picks the renderings
# at 100, 125, 150 or 200 %, 0 when not given). Transparent parts show on a light grey,
# the icon's three sizes come last; the banner is also shown assembled at 800 px as the main
# window stretches it.
set -euo pipefail
dir=$1 out=$2 scale=${3:-0}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mid=$(identify -format %h "$dir/IDB_BANNER_MIDDLE@$scale.png")
convert "$dir/IDB_BANNER_LEFT@$scale.png" \( "$dir/IDB_BANNER_MIDDLE@$scale.png" -resize "$((350 * mid / 130))x$mid!" \) \
  "$dir/IDB_BANNER_RIGHT@$scale.png" +append "$tmp/banner800.png"
for f in "$dir"/IDB_*@"$scale".png; do
  n=$(basename "$f" "@$scale.png")
  # Narrow pictures get room for their label.
  w=$(identify -format %w "$f")
  h=$(identify -format %h "$f")
  convert "$f" -background none -gravity center -extent "$((w < 150 ? 150 : w))x$h" \
    "$tmp/${n#IDB_}.png"
done
convert "$dir/eBrisko.ico" "$tmp/icon.png"
# One montage per group, so each row's cells fit its pictures.
row() {
  local name=$1
  shift
  montage -label "%t" -font Liberation-Sans -pointsize 10 -background '#E4E6E6' \
    -fill '#193C3C' -geometry +8+6 -tile "${#}x" "$@" "$tmp/row-$name.png"
}
(cd "$tmp" &&
  row 1 banner800.png &&
  row 2 ABOUT_BACKGROUND.png ABOUT_LOGO.png MACHINE_NOTEBOOK.png MACHINE_DESKTOP.png ABOUT_NOTEBOOK.png ABOUT_DESKTOP.png &&
  row 3 BANNER_LEFT.png BANNER_MIDDLE.png BANNER_RIGHT.png MSG_ERROR.png MSG_INFO.png MSG_WARNING.png &&
  row 4 BANNER_MENU_{NORMAL,HOT,PRESSED,DISABLED}.png BANNER_ABOUT_{NORMAL,HOT,PRESSED,DISABLED}.png &&
  row 5 BANNER_HELP_{NORMAL,HOT,PRESSED,DISABLED}.png ABOUT_CLOSE_{NORMAL,HOT,PRESSED,DISABLED}.png &&
  row 6 BUTTON_FACE_{NORMAL,HOT,PRESSED,DISABLED}.png icon-{0,1,2}.png)
convert "$tmp"/row-{1,2,3,4,5,6}.png -background '#E4E6E6' -gravity west -append +repage -depth 8 "$out"
