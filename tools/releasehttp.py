"""HTTP as the updater speaks it, for the publishing tools: one request at a time, redirections not
followed, bodies bounded, and the checks of an answer that the updater would make."""

import http.client
import ssl
import urllib.parse

# The updater gives up on a transfer that sends nothing for 30 s.
SOCKET_TIMEOUT = 30
# Cache-Control values under which no cache hands out an old manifest unasked.
FRESH = {"no-cache", "no-store", "max-age=0"}
PIECE = 1 << 20


class Failure(Exception):
    pass


class Reply:
    def __init__(self, response, body):
        self.status = response.status
        self.headers = response.headers
        self.body = body

    def header(self, name):
        return self.headers.get(name, "")


def get(url, method="GET", headers=None, limit=0, sink=None):
    """One request, redirections not followed, at most `limit` bytes of body read (into `sink`,
    a file, when given)."""
    parts = urllib.parse.urlsplit(url)
    try:
        port = parts.port
    except ValueError as error:
        raise Failure(f"not an address ({error})") from error
    if parts.scheme == "https" and parts.hostname:
        connection = http.client.HTTPSConnection(parts.hostname, port, timeout=SOCKET_TIMEOUT,
                                                 context=ssl.create_default_context())
    elif parts.scheme == "http" and parts.hostname:
        connection = http.client.HTTPConnection(parts.hostname, port, timeout=SOCKET_TIMEOUT)
    else:
        raise Failure("not an http:// or https:// address")
    try:
        target = (parts.path or "/") + (f"?{parts.query}" if parts.query else "")
        connection.request(method, target,
                           headers={"Accept-Encoding": "identity", **(headers or {})})
        response = connection.getresponse()
        return Reply(response, read_body(response, limit, sink))
    except (OSError, ValueError, http.client.HTTPException) as error:
        raise Failure(f"no answer ({error})") from error
    finally:
        connection.close()


def read_body(response, limit, sink):
    kept, size = [], 0
    while True:
        piece = response.read(min(PIECE, limit + 1 - size))
        if not piece:
            return b"".join(kept)
        size += len(piece)
        if size > limit:
            raise Failure(f"the answer is larger than {limit} bytes")
        if sink is None:
            kept.append(piece)
        else:
            sink.write(piece)


def plain(reply, status=200):
    """The answer the updater takes: the status it asked for, nothing compressed."""
    if reply.status != status:
        where = reply.header("Location")
        raise Failure(f"status {reply.status}, not {status}" + (f" (to {where})" if where else ""))
    encoding = reply.header("Content-Encoding")
    if encoding not in ("", "identity"):
        raise Failure(f"Content-Encoding {encoding}; the updater takes no compression")


def fresh(reply):
    control = reply.header("Cache-Control")
    values = {value.strip().lower() for value in control.split(",")}
    if not values & FRESH:
        raise Failure(f"{control or 'none'}; caches may keep handing out an old one")
    return control


def resume(url, head, size):
    """What the updater needs to ask for the rest of a lost download."""
    etag, modified = head.header("ETag"), head.header("Last-Modified")
    if etag.startswith("W/"):
        etag = ""
    if not (etag or modified):
        raise Failure("neither a strong ETag nor Last-Modified: a lost download starts again")
    validator = etag or modified
    reply = get(url, headers={"Range": "bytes=0-0", "If-Range": validator}, limit=1)
    plain(reply, status=206)
    expected = f"bytes 0-0/{size}"
    if reply.header("Content-Range") != expected:
        raise Failure(f"Content-Range {reply.header('Content-Range')!r}, not {expected!r}")
    return f"206 to a Range with If-Range {validator}"


def file_name(url):
    return urllib.parse.unquote(urllib.parse.urlsplit(url).path.rsplit("/", 1)[-1])
