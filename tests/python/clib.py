"""The library's C functions (libcompatcrypt.so.1 of the build tree) through
ctypes: the reference the module's results are compared with."""

import ctypes
import os

MODE = 1
OK = 1


class CLibrary:
    def __init__(self, path):
        self._lib = ctypes.CDLL(path)
        u8p, i32, u32 = ctypes.c_char_p, ctypes.c_int32, ctypes.c_uint32
        i32p = ctypes.POINTER(ctypes.c_int32)
        for name in ("EncodeFunction", "DecodeFunction"):
            getattr(self._lib, name).argtypes = [u8p, i32, u8p, i32, ctypes.c_void_p, u32]
        self._lib.MessageDigest.argtypes = [u8p, i32, ctypes.c_void_p, i32p, u32]
        self._lib.FileDigest.argtypes = [u8p, i32, ctypes.c_void_p, i32p, u32]
        self._lib.KeyGenerating.argtypes = [u8p, i32, ctypes.c_void_p, i32p, u32]
        for name in ("EncodeFunction", "DecodeFunction", "MessageDigest", "FileDigest", "KeyGenerating"):
            getattr(self._lib, name).restype = i32

    def _call(self, function, *args):
        code = function(*args)
        assert code == OK, f"{function.__name__} returned {code}"

    def digest(self, data):
        out, length = ctypes.create_string_buffer(20), ctypes.c_int32()
        self._call(self._lib.MessageDigest, bytes(data), len(data), out, ctypes.byref(length), MODE)
        return out.raw[: length.value]

    def file_digest(self, path, offset=0):
        """(result code, digest or None): the code is part of what is compared."""
        out, length = ctypes.create_string_buffer(20), ctypes.c_int32()
        code = self._lib.FileDigest(os.fsencode(path), offset, out, ctypes.byref(length), MODE)
        return code, out.raw[: length.value] if code == OK else None

    def keygen(self, password):
        out, length = ctypes.create_string_buffer(16), ctypes.c_int32()
        self._call(self._lib.KeyGenerating, password, len(password), out, ctypes.byref(length), MODE)
        return out.raw[: length.value]

    def _code(self, function, data, key):
        out = ctypes.create_string_buffer(max(len(data), 1))
        self._call(function, bytes(data), len(data), bytes(key), len(key), out, MODE)
        return out.raw[: len(data)]

    def encode(self, data, key):
        return self._code(self._lib.EncodeFunction, data, key)

    def decode(self, data, key):
        return self._code(self._lib.DecodeFunction, data, key)


class KeyRules:
    """The binding surface's key rules and messages (compatcrypt_bind.h) of
    libcompatcrypt-cxx.so.1: what the module must report, word for word."""

    def __init__(self, path):
        self._lib = ctypes.CDLL(path)
        self._lib.compatcrypt_bind_key_in_effect.argtypes = [ctypes.c_char_p, ctypes.c_size_t,
                                                             ctypes.POINTER(ctypes.c_int),
                                                             ctypes.POINTER(ctypes.c_int), ctypes.c_void_p]
        self._lib.compatcrypt_bind_key_warning.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p,
                                                           ctypes.c_size_t]
        self._lib.compatcrypt_bind_message.restype = ctypes.c_char_p
        self._lib.compatcrypt_bind_message.argtypes = [ctypes.c_int]

    def in_effect(self, key):
        outer, middle = ctypes.c_int(), ctypes.c_int()
        code = self._lib.compatcrypt_bind_key_in_effect(key, len(key), ctypes.byref(outer), ctypes.byref(middle), None)
        assert code == OK
        return outer.value + middle.value

    def warning(self, key):
        buffer = ctypes.create_string_buffer(256)
        length = self._lib.compatcrypt_bind_key_warning(key, len(key), buffer, len(buffer))
        assert length >= 0
        return buffer.value.decode()

    def message(self, code):
        return self._lib.compatcrypt_bind_message(code).decode()


PASSWORD_EMPTY = -6
