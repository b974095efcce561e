// The benchmarks' empty DLL: no code of its own, only what every DLL built
// like the library carries (the C runtime's start-up and the version
// resource). The library's load time and size are weighed against it.
