"""Bounds on what a reader of a file that may be hostile spends, whatever
its library (pefile, pycdlib, asn1crypto) does with the file: CPU time and
memory, each a soft limit of this process, raised again once the reading is
done. A process started meanwhile inherits the limits, but its own CPU time
counts from zero, and a tool needs far less memory than the bound.
"""
import contextlib
import resource
import signal

MEMORY = 1 << 30  # bytes of heap: far past what reading any medium needs (RLIMIT_DATA leaves out a read-only mmap)


class Exceeded(BaseException):
    """The bound was reached: a BaseException, so that no reader's catch-all
    takes it for a malformed part and reads on."""


def exceeded(number, _):
    raise Exceeded("more CPU time than any such file needs")


@contextlib.contextmanager
def bounded(seconds, memory=MEMORY):
    """Within, this process spends at most seconds more of CPU time and
    memory bytes of heap, or Exceeded is raised."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    limits = {kind: resource.getrlimit(kind) for kind in (resource.RLIMIT_CPU, resource.RLIMIT_DATA)}
    handler = signal.signal(signal.SIGXCPU, exceeded)
    for kind, soft in ((resource.RLIMIT_CPU, int(usage.ru_utime + usage.ru_stime + seconds) + 1),
                       (resource.RLIMIT_DATA, memory)):
        hard = limits[kind][1]
        resource.setrlimit(kind, (soft if hard == resource.RLIM_INFINITY else min(soft, hard), hard))
    try:
        yield
    except MemoryError:
        raise Exceeded("more memory than any such file needs")
    finally:
        for kind, limit in limits.items():
            resource.setrlimit(kind, limit)
        signal.signal(signal.SIGXCPU, handler)


def for_size(size):
    """CPU seconds for reading a file of size bytes: a floor for the
    parsing, and time to hash or copy every byte on a slow machine."""
    return 30 + size // (16 << 20)
