#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# The library exports its public names and hides its internal helpers.
set -eu
lib=$1
syms=$(nm -D --defined-only -C "$lib" | grep ' T ' | sed 's/^[^ ]* T //')
status=0
for name in 'VokImage::File::File(' 'VokImage::File::operator==' 'VokImage::File::operator<' \
    'operator<<(QDataStream&, VokImage::File const&)' 'operator>>(QDataStream&, VokImage::File&)' \
    'operator<<(QDebug, VokImage::File const&)' 'VokImage::RenderEngine::render(' \
    'VokImage::RenderEngine::getStatus()' 'VokImage::RenderFactory::RenderFactory(' \
    'VokImage::RenderImage::render()' 'VokImage::RenderLogo::getLogoArea(' \
    'VokImage::RenderBlurEffects::render()' 'VokImage::RenderColorOverlayEffects::render()' \
    'VokImage::fitToScreen(' 'VokImage::getLogoPosition(' 'VokImage::getLogoPositionX11(' \
    'VokImage::isTextColorBlack(' 'VokImage::isTextWhiteFor(' 'VokImage::containsColor(' \
    'VokImage::Utils::getColor(' 'VokImage::Utils::CreateShadeColor(' \
    'VokImage::Utils::CreateShadeColors(' 'VokImage::Utils::getVokDefaultWallpaper(' \
    'wallpaperSizeRatio(QSize)' 'VokImage::Utils::PropertiesToByteArray(' \
    'VokImage::Utils::ByteArrayToProperties(' 'VokImage::Cache::getFileName(' \
    'VokImage::Cache::isCacheExists(' 'VokImage::Cache::saveImageCache(' \
    'VokImage::Cache::loadImageCache(' 'VokImage::Cache::getImageCacheWithoutOverloadedLogo(' \
    'VokImage::Cache::getImageCacheWithOverloadedLogo(' \
    'VokImage::Cache::searchCacheWithDifferentLogos(' 'VokImage::Cache::getImageCache(' \
    'VokImage::Cache::getCacheSize()' 'VokImage::Cache::removeOldFileCache()' \
    'VokSettings::VokSettings(' 'VokSettings::isParsed()' 'VokSettings::ParseConfigFile(' \
    'VokSettings::value(' 'VokSettings::setValue(' 'VokSettings::remove(' 'VokSettings::sync(' \
    'VokImage::VokPathFactory::VokPathFactory()' 'VokImage::VokPathFactory::getProperty(' \
    'VokImage::VokPathFactory::getCurrentWallpaperPath()' 'VokImage::VokPathFactory::whatVokSession()' \
    'VokImage::VokPathFactory::xdgUserDirLookup(' 'VokImage::VokPathFactory::getVokThemeDir()' \
    'VokImage::VokPathFactory::getVokSessionConfigSuffix(' \
    'VokImage::VokOrvPathFactory::VokOrvPathFactory(' 'VokImage::VokOrvPathFactory::getProperty(' \
    'VokImage::FileSystemEngine::FileSystemEngine(' 'VokImage::FileSystemEngine::getProperty(' \
    'VokImage::determineLogoSize(' 'VokImage::findLogoPath(' 'VokImage::getLogoPath(' \
    'VokImage::getCurrentLogoPath(' 'VokImage::getWallpaperProperties(' \
    'VokImage::getLogoProperties(' 'VokImage::getWallpaper(' 'VokImage::getLogo(' \
    'VokImage::getBackground(' 'VokImage::getWallpaperOrvProperties(' \
    'VokImage::getLogoOrvProperties(' 'VokImage::getOrvWallpaper(' 'VokImage::getOrvLogo(' \
    'VokImage::getOrvBackground('; do
    if ! printf '%s\n' "$syms" | grep -qF "$name"; then
        echo "FAIL: $name is not exported"
        status=1
    fi
done
for name in imageSizeAcceptable ensureFileTypeRegistered registerFileType SharedFiles \
    Cache::keyOf Cache::renderAndStore "Cache::load(" "Cache::save(" surfaceSize \
    readSettingsFile writeSettingsFile VokDesktopEntry tryLoadImageCache "::Private::" ImageFile \
    ImagePassReuse pngRegion; do
    if printf '%s\n' "$syms" | grep -qF "$name"; then
        echo "FAIL: internal $name is exported"
        status=1
    fi
done
# The polymorphic classes keep their type information and virtual tables, so that callers
# can derive from them and cast them.
all=$(nm -D --defined-only -C "$lib")
for class in RenderFactory RenderImage RenderLogo PathFactory VokPathFactory VokOrvPathFactory; do
    for what in "typeinfo for" "vtable for"; do
        if ! printf '%s\n' "$all" | grep -qF "$what VokImage::$class"; then
            echo "FAIL: $what VokImage::$class is not exported"
            status=1
        fi
    done
done
# Nothing but the API: no template code of the standard library or of Qt.
stray=$(nm -D --defined-only -C "$lib" | sed 's/^[0-9a-f]* . //' | grep -v -E \
    '^(VokImage::|VokSettings::|(typeinfo|typeinfo name|vtable) for VokImage::|wallpaperSizeRatio\(QSize\)$|operator(<<|>>)\((QDebug|QDataStream&), VokImage::File( const)?&\)$|_edata$|_end$|__bss_start$)' || true)
if [ -n "$stray" ]; then
    echo "FAIL: names outside the API are exported:"
    printf '%s\n' "$stray"
    status=1
fi
[ $status -eq 0 ] && echo "PASS: exported names present, internal helpers hidden"
exit $status
