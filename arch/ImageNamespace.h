// Every mutable thing a loaded copy of the driver owns lives in one C++ namespace per copy. The
// build compiles the same sources once per image (the delivered driver, the driver with debug
// output on, and a second driver that links the shared libraries), each under its own namespace,
// so that two loaded copies never share a global, just as two firmware images never share .data.
#ifndef ARCH_IMAGE_NAMESPACE_H_
#define ARCH_IMAGE_NAMESPACE_H_

#ifndef CCX_IMAGE_NAMESPACE
#define CCX_IMAGE_NAMESPACE CcxImage
#endif

#endif  // ARCH_IMAGE_NAMESPACE_H_
