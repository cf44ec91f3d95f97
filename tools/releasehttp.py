"""HTTP as the updater speaks it, for the publishing tools: one request at a time, redirections
followed only for packages and as the updater follows them, bodies bounded, and the checks of an
answer that the updater would make."""

import http.client
import ssl
import urllib.parse

# The updater gives up on a transfer that sends nothing for 30 s.
SOCKET_TIMEOUT = 30
# Cache-Control values under which no cache hands out an old manifest unasked.
FRESH = {"no-cache", "no-store", "max-age=0"}
PIECE = 1 << 20
# What the updater follows for a package, its signature and a resume, and how often.
REDIRECTS = {301, 302, 303, 307, 308}
MAX_REDIRECTS = 5


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
    a file, when given); a redirection's body is not read."""
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
        if response.status in REDIRECTS:
            return Reply(response, b"")
        return Reply(response, read_body(response, limit, sink))
    except (OSError, ValueError, http.client.HTTPException) as error:
        raise Failure(f"no answer ({error})") from error
    finally:
        connection.close()


def follow(url, **options):
    """A package's request as the updater makes it: redirections followed, at most five, to http
    or https only, never from https back to http, never round a loop. The final answer."""
    seen = [urllib.parse.urldefrag(url).url]
    while True:
        reply = get(url, **options)
        if reply.status not in REDIRECTS:
            return reply
        target = urllib.parse.urljoin(url, reply.header("Location"))
        scheme = urllib.parse.urlsplit(target).scheme
        if len(seen) > MAX_REDIRECTS:
            raise Failure(f"more than {MAX_REDIRECTS} redirections")
        if scheme not in ("http", "https"):
            raise Failure(f"redirected to {target}, not an http:// or https:// address")
        if scheme == "http" and urllib.parse.urlsplit(url).scheme == "https":
            raise Failure(f"redirected from https:// to {target}")
        if urllib.parse.urldefrag(target).url in seen:
            raise Failure(f"redirected round a loop, back to {target}")
        seen.append(urllib.parse.urldefrag(target).url)
        url = target


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
    reply = follow(url, headers={"Range": "bytes=0-0", "If-Range": validator}, limit=1)
    plain(reply, status=206)
    expected = f"bytes 0-0/{size}"
    if reply.header("Content-Range") != expected:
        raise Failure(f"Content-Range {reply.header('Content-Range')!r}, not {expected!r}")
    return f"206 to a Range with If-Range {validator}"


def file_name(url):
    return urllib.parse.unquote(urllib.parse.urlsplit(url).path.rsplit("/", 1)[-1])
