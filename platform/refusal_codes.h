// The numbers a page reads in Err.Number to tell why an upload was refused,
// one per cause, so that no page has to read a message's words. They are
// FACILITY_ITF codes, as Automation components define their own; a cause
// that has a system code (a file that exists: 0x80070050) keeps that one.
#pragma once
#include <windows.h>

namespace Refusal {
constexpr HRESULT Code(unsigned n) { return static_cast<HRESULT>(0x80040200u + n); }

constexpr HRESULT kNotForm = Code(1);          // not a multipart/form-data body
constexpr HRESULT kTooManyParts = Code(2);     // more parts than MaxParts
constexpr HRESULT kPartTooLarge = Code(3);     // a part of 4 GB or more
constexpr HRESULT kMaxBytes = Code(4);         // the body over MaxBytes
constexpr HRESULT kMaxFileBytes = Code(5);     // a file over MaxFileBytes
constexpr HRESULT kMaxFieldBytes = Code(6);    // a field over MaxFieldBytes
constexpr HRESULT kTypeNotAllowed = Code(7);   // a file of a type not in AllowedTypes
constexpr HRESULT kEndedEarly = Code(8);       // the client stopped sending
constexpr HRESULT kNotRequest = Code(9);       // no Request object was given
constexpr HRESULT kBadTotalBytes = Code(10);   // Request.TotalBytes gave no byte count
constexpr HRESULT kReadNotBytes = Code(11);    // Request.BinaryRead gave no byte array
constexpr HRESULT kSaveToDevice = Code(12);    // a save target that is a device or pipe
constexpr HRESULT kSaveToStream = Code(13);    // a save target that is a file's stream
constexpr HRESULT kPathHasZero = Code(14);     // a path or folder holding U+0000
constexpr HRESULT kSavedFileChanged = Code(15);  // the saved file that held the bytes changed

constexpr HRESULT kFirst = kNotForm;
constexpr HRESULT kLast = kSavedFileChanged;

// Whether hr is one of these.
constexpr bool IsRefusal(HRESULT hr) {
    return static_cast<unsigned>(hr) >= static_cast<unsigned>(kFirst) &&
           static_cast<unsigned>(hr) <= static_cast<unsigned>(kLast);
}
}  // namespace Refusal
