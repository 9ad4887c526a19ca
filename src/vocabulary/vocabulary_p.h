#pragma once

namespace VokImage {

/// Registers VokImage::File with the meta-type system once per process.
void ensureFileTypeRegistered();

} // namespace VokImage
