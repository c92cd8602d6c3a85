#!/usr/bin/env bash
# Draws the progress window's pictures and the application icon with ImageMagick.
# The outputs are committed; the build only embeds them. Needs imagemagick and fonts-nanum.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert
font_ko=$(fc-match -f '%{file}' 'NanumGothic:bold')
font_en=$(fc-match -f '%{file}' 'DejaVu Sans:bold' 2>/dev/null || echo "$font_ko")

background() {  # $1 output, $2 font, $3 text
  "$convert" -size 267x68 gradient:'#FFFFFF'-'#E6E1F3' \
    -fill none -stroke '#C9C6D6' -draw 'rectangle 0,0 266,67' \
    -fill '#DADAE2' -stroke '#B2B0C0' -draw 'roundrectangle 11,38 256,48 4,4' \
    -stroke none -fill '#3C3A52' -font "$2" -pointsize 12 -annotate +14+26 "$3" \
    -type TrueColor BMP3:"$1"
}
background IDB_BGD_PROG1_NOR.bmp "$font_ko" '잠시만 기다려 주십시오.'
background IDB_BGD_PROG2_NOR.bmp "$font_en" 'Please just a moment.'

# The strip: blue with light diagonal stripes, rounded ends, the size of the groove's inside.
"$convert" -size 246x10 xc:'#2F6FD0' \
  -fill '#6A9EEA' -draw "$(for x in $(seq -12 8 250); do printf 'polygon %d,10 %d,0 %d,0 %d,10 ' $x $((x+5)) $((x+8)) $((x+3)); done)" \
  \( -size 246x10 xc:black -fill white -draw 'roundrectangle 0,0 245,9 4,4' \) \
  -alpha off -compose CopyOpacity -composite \
  -compose Over -background '#DADAE2' -flatten \
  -type TrueColor BMP3:IDB_STT_PROG_NOR.bmp

# Application icon.
"$convert" -size 48x48 xc:none -fill '#2F6FD0' -draw 'roundrectangle 2,2 45,45 9,9' \
  -fill white -font "$font_en" -pointsize 30 -gravity center -annotate +0+1 'Q' app_icon.png
