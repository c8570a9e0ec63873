#!/usr/bin/env bash
# Makes the saver's artwork from code and writes it into resources/:
#   clip.avi        the looping evening-sky clip (Cinepak, 1024 x 768, 24 fps, 317 frames)
#   preview.bmp     frame 0 of the clip at 320 x 240, 32 bits per pixel
#   about.bmp       180 x 180, 24 bits per pixel, for the About box
#   vesperine.ico   the window icon, 32 x 32 at 8 bits per pixel
# The renderer and encoder are tools/artwork/render.cpp and cinepak.h. ffmpeg is used
# only to check the clip: it decodes it, and the loop point must be no bigger a step
# than the steps between neighbouring frames.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v ffmpeg >/dev/null || ! command -v ffprobe >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq ffmpeg >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

g++ -O2 -std=c++17 -pthread -o "$work/render" tools/artwork/render.cpp

echo "rendering and encoding the clip..."
"$work/render" clip "$work/clip.avi"

# What the saver relies on: one Cinepak stream, its size and rate, 317 frames, no sound.
facts=$(ffprobe -v error -count_frames -show_entries \
  stream=codec_type,codec_name,width,height,r_frame_rate,nb_frames,nb_read_frames \
  -of compact=p=0:nk=0 "$work/clip.avi")
echo "$facts"
expected="codec_name=cinepak|codec_type=video|width=1024|height=768|r_frame_rate=24/1|nb_frames=317|nb_read_frames=317"
if [ "$facts" != "$expected" ]; then
  echo "make_artwork: the clip is not what the saver expects" >&2
  exit 1
fi

ffmpeg -v error -i "$work/clip.avi" -vf scale=256:192 -f rawvideo -pix_fmt rgb24 - |
  "$work/render" seam-check 256 192

"$work/render" preview "$work/preview.bmp"
"$work/render" about "$work/about.bmp"
"$work/render" icon "$work/vesperine.ico"

for f in clip.avi preview.bmp about.bmp vesperine.ico; do
  mv "$work/$f" "resources/$f"
done
ls -l resources/clip.avi resources/preview.bmp resources/about.bmp resources/vesperine.ico
