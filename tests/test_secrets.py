"""The two keys never appear in anything the module says: exception messages and arguments,
representations of its objects, and what it writes to standard error on an internal failure.

Every path that produces a message is driven with distinctive keys, and each text is searched
for the keys in the forms they take inside the module (as given, percent-encoded, hexadecimal)."""

import binascii
import hashlib
import hmac
import io
import struct
import urllib.error
import urllib.parse


from child_process import run_python

import vemrat_pay

COMMUNITY_KEY = "CommunitySecret-7Qx2"
SPONSOR_KEY = "SponsorSecret-é9Lm/+"
FORMS = {
    form
    for key in (COMMUNITY_KEY, SPONSOR_KEY)
    for form in (
        key,
        urllib.parse.quote(key, safe="-._~"),
        binascii.hexlify(key.encode()).decode(),
        key[: len(key) // 2 + 2],  # a prefix long enough to be telling
    )
}


def leaks(text):
    return sorted(form for form in FORMS if form in text)


def texts_of(outcome):
    """Everything a caller can read off a result or an exception."""
    if isinstance(outcome, BaseException):
        yield str(outcome)
        yield repr(outcome)
        yield from (repr(argument) for argument in outcome.args)
        for linked in (outcome.__cause__, outcome.__context__):
            if linked is not None:
                yield from texts_of(linked)
    else:
        yield repr(outcome)
        if isinstance(outcome, dict):
            yield from (str(value) for value in outcome.values())
        for name in dir(outcome):
            if not name.startswith("_"):
                yield str(getattr(outcome, name))


def outcome_of(call):
    try:
        return call()
    except BaseException as error:  # noqa: BLE001 - the exception is what is examined
        return error


class Response:
    def __init__(self, status, body):
        self.status, self.body = status, body

    def getcode(self):
        return self.status

    def read(self):
        return self.body


def transport_answers():
    """What the stubbed urlopen does on each call of the paths below."""
    def http_error(request):
        raise urllib.error.HTTPError(request.full_url, 403, "Forbidden", {}, io.BytesIO(b'{"detail":"forbidden"}'))

    def url_error(request):
        raise urllib.error.URLError(f"cannot reach {urllib.parse.urlsplit(request.full_url).netloc}")

    def read_str(request):
        return Response(200, '{"data":{}}')

    return [
        lambda request: Response(200, b'{"data":{"order_id":"A","pay_url":"https://pay.test/A"}}'),
        lambda request: Response(200, b'{"data":{"order_id":"A","pay_status":1,"fail_reason":"x"}}'),
        lambda request: Response(201, b"created"),
        lambda request: Response(200, b"not json"),
        lambda request: Response(200, b'{"detail":"bad request"}'),
        lambda request: Response(200, b'{"result":1}'),
        lambda request: Response("200", b""),
        http_error,
        url_error,
        read_str,
    ]


def test_no_key_in_any_message_or_representation(stub, tmp_path, monkeypatch):
    client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
    outcomes = [client, outcome_of(lambda: vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY, COMMUNITY_KEY))]
    outcomes.append(outcome_of(lambda: vemrat_pay.Client(COMMUNITY_KEY, community_key=SPONSOR_KEY)))
    outcomes.append(outcome_of(lambda: vemrat_pay.Client(COMMUNITY_KEY, sponsor_key=5)))

    for respond in transport_answers():
        stub.respond = respond
        outcomes.append(outcome_of(lambda: client.create_payment(1.5, "CNY", "acct", "/cb", "split", "/done")))
        outcomes.append(outcome_of(lambda: client.query_order("A")))

    body = '{"status":"paid","order_id":"A"}'
    outcomes += [
        outcome_of(lambda: client.verify_callback(body, "0" * 64)),
        outcome_of(lambda: client.verify_callback("{", vemrat_sign("{"))),
        outcome_of(lambda: client.verify_callback(body, vemrat_sign(body))),
        outcome_of(lambda: client.verify_callback(body.encode(), "x")),
        outcome_of(lambda: client.verify_callback(body)),
        outcome_of(lambda: client.query_order(order_id=b"A")),
        outcome_of(lambda: client.create_payment("1", "CNY", "acct", "/cb")),
        outcome_of(lambda: client.create_payment(1.0, "CNY", "acct", "/cb", None)),
        outcome_of(lambda: client.query_order("\udc80")),
    ]

    # Key files: found, missing, not UTF-8, without one key; the keys are in the file's text.
    monkeypatch.delenv("IS_LAN", raising=False)
    monkeypatch.delenv("DJANGO_SETTINGS_MODULE", raising=False)
    monkeypatch.chdir(tmp_path)
    key_file = tmp_path / "auth_key.py"
    for content in (
        f'COMMUNITY_KEY = "{COMMUNITY_KEY}"\nSPONSOR_KEY = "{SPONSOR_KEY}"\n'.encode(),
        f'COMMUNITY_KEY = "{COMMUNITY_KEY}"\nSPONSOR_KEY = "{SPONSOR_KEY}\xff"\n'.encode("latin-1", "replace"),
        f'COMMUNITY_KEY = "{COMMUNITY_KEY}"\n'.encode(),
        f'SPONSOR_KEY = "{SPONSOR_KEY}"\n'.encode(),
        None,
    ):
        if content is None:
            key_file.unlink()
        else:
            key_file.write_bytes(content)
        loaded = outcome_of(vemrat_pay.Client)
        outcomes.append(loaded)
        if isinstance(loaded, vemrat_pay.Client):
            outcomes.append(outcome_of(lambda: loaded.verify_callback(body, "f" * 64)))

    kinds = {type(outcome).__name__ for outcome in outcomes}
    assert {"Client", "PaymentResult", "OrderStatus", "dict", "RuntimeError", "TypeError"} <= kinds
    found = {text: leaks(text) for outcome in outcomes for text in texts_of(outcome) if leaks(text)}
    assert found == {}


def vemrat_sign(body):
    return hmac.new(SPONSOR_KEY.encode(), body.encode(), hashlib.sha256).hexdigest()


def test_no_key_in_what_an_internal_failure_writes(tmp_path):
    # A failing allocation inside each operation: the diagnostics on standard error and the
    # PanicException messages must not carry the keys either.
    script = (
        f"""
        import _testcapi, sys, urllib.request
        import vemrat_pay

        class Response:
            def getcode(self): return 200
            def read(self): return b'{{"data":{{"order_id":"A"}}}}'

        urllib.request.urlopen = lambda request: Response()
        client = vemrat_pay.Client({COMMUNITY_KEY!r}, {SPONSOR_KEY!r})
        calls = [lambda: client.create_payment(1.0, "CNY", "a", "b"), lambda: client.query_order("A"),
                 lambda: client.verify_callback("{{}}", "0" * 64)]
        for call in calls:
            try:
                call()
            except RuntimeError:
                pass
            for start in range(300):
                raised = None
                # The hooks are removed before this script handles what the call raised: from
                # Python 3.14 on, handling it allocates too.
                try:
                    _testcapi.set_nomemory(start, start + 1)
                    try:
                        call()
                    finally:
                        _testcapi.remove_mem_hooks()
                except BaseException as error:
                    raised = error
                print(repr(raised) + str(raised))
        """
    )
    completed = run_python(script, env={"VEMRAT_PAY_BASE_URL": "https://service.test"})
    assert completed.returncode == 0, completed.stderr[-3000:]
    assert "internal failure" in completed.stderr
    assert leaks(completed.stdout) == [] and leaks(completed.stderr) == []


# --- How the module is linked --------------------------------------------------------------------
#
# With lazy binding, the dynamic linker resolves a function at its first call and saves the vector
# registers, which may hold bytes of the form body just copied, on the caller's stack, where they
# stay. The module is linked to bind every symbol when it is loaded, with its relocations read-only
# afterwards. Read from the ELF file itself.

PT_DYNAMIC, PT_GNU_RELRO = 2, 0x6474E552
DT_NULL, DT_FLAGS, DT_FLAGS_1 = 0, 30, 0x6FFFFFFB
DF_BIND_NOW, DF_1_NOW = 0x8, 0x1


def elf_binding(path):
    """(the DT_FLAGS and DT_FLAGS_1 values, whether a PT_GNU_RELRO segment exists) of a 64-bit
    little-endian ELF shared object."""
    with open(path, "rb") as file:
        data = file.read()
    assert data[:4] == b"\x7fELF" and data[4] == 2 and data[5] == 1, "a 64-bit little-endian ELF file"
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    flags = {DT_FLAGS: 0, DT_FLAGS_1: 0}
    relro = False
    for index in range(phnum):
        kind, _, offset, _, _, size = struct.unpack_from("<IIQQQQ", data, phoff + index * phentsize)
        relro |= kind == PT_GNU_RELRO
        if kind == PT_DYNAMIC:
            for at in range(offset, offset + size, 16):
                tag, value = struct.unpack_from("<qQ", data, at)
                if tag == DT_NULL:
                    break
                if tag in flags:
                    flags[tag] = value
    return flags[DT_FLAGS], flags[DT_FLAGS_1], relro


def test_the_module_binds_every_symbol_at_load_time():
    dt_flags, dt_flags_1, relro = elf_binding(vemrat_pay.__file__)
    assert dt_flags & DF_BIND_NOW and dt_flags_1 & DF_1_NOW
    assert relro
