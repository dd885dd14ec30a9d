# The programs' icons, drawn at build time from one vector drawing
# (printer_icon.svg): librsvg renders it at each size, and ImageMagick packs
# the images into an .ico, 32 bits per pixel with their alpha channel.
#
# draw_icon(OUTPUT BADGE): makes the rule that writes OUTPUT with the drawing's
# badge BADGE ("remove" or "install") shown and the other one hidden.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
# ImageMagick 7 names its program magick; Windows has a convert.exe of its own.
find_program(IMAGEMAGICK_CONVERT NAMES magick convert REQUIRED)

# The sizes of every icon, largest first, as the resources list them.
set(ICON_SIZES 128 96 64 48 32)
set(ICON_DRAWING ${CMAKE_CURRENT_LIST_DIR}/printer_icon.svg)

function(draw_icon output badge)
  get_filename_component(name ${output} NAME_WE)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-icon)
  file(MAKE_DIRECTORY ${work})
  file(CONFIGURE OUTPUT ${work}/badge.css
    CONTENT ".badge { display: none; }\n#${badge} { display: inline; }\n")
  set(renders "")
  set(images "")
  foreach(size ${ICON_SIZES})
    list(APPEND renders COMMAND ${RSVG_CONVERT} --stylesheet ${work}/badge.css
      --width ${size} --height ${size} --format png --output ${work}/${size}.png ${ICON_DRAWING})
    list(APPEND images ${work}/${size}.png)
  endforeach()
  add_custom_command(OUTPUT ${output}
    ${renders}
    COMMAND ${IMAGEMAGICK_CONVERT} ${images} -alpha set ${output}
    DEPENDS ${ICON_DRAWING} ${work}/badge.css
    COMMENT "Drawing ${name}.ico"
    VERBATIM)
endfunction()
