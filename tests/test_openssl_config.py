"""The module's SHA-256 and HMAC do not answer to OpenSSL's configuration: a file named by
OPENSSL_CONF that asks for FIPS-approved implementations only, or that names a provider library
to load, changes no result of verify_callback and loads nothing. Each case runs in a fresh
interpreter, as OpenSSL reads its configuration once per process."""

import hashlib
import hmac
import shutil

import pytest

from child_process import report_of, run_python

import vemrat_pay


BODY = '{"status":"paid","order_id":"A1","amount":"10.00","settle_amount":"9.50","reason":"","expired":"2025-01-01"}'
SIGNATURE = hmac.new(b"sk", BODY.encode(), hashlib.sha256).hexdigest()

PROBE = f"""
import json, sys, vemrat_pay
client = vemrat_pay.Client("ck", "sk")
outcomes = []
for signature in ({SIGNATURE!r}, "0" * 64):
    try:
        outcomes.append(client.verify_callback({BODY!r}, signature))
    except BaseException as error:
        outcomes.append(f"{{type(error).__name__}}: {{error}}")
with open("/proc/self/maps") as maps:
    mapped = sorted({{line.split()[-1] for line in maps if line.split()[-1].startswith("/")}})
print(json.dumps({{"outcomes": outcomes, "mapped": mapped,
                  "python_openssl": [name for name in ("ssl", "_ssl", "_hashlib") if name in sys.modules]}}))
"""

FIPS_ONLY = """
openssl_conf = openssl_init
[openssl_init]
alg_section = algorithms
[algorithms]
default_properties = fips=yes
"""

PROVIDER_LIBRARY = """
config_diagnostics = 1
openssl_conf = openssl_init
[openssl_init]
providers = providers
[providers]
extra = extra
[extra]
module = {library}
activate = 1
"""


def probe(config=None):
    return report_of(run_python(PROBE, env={"OPENSSL_CONF": config}))


@pytest.fixture(scope="module")
def unconfigured():
    report = probe()
    if any("libcrypto.so" in path for path in report["mapped"]):
        pytest.skip("this build links the system's shared libcrypto, which reads the configuration the system gives it")
    assert report["python_openssl"] == [], "the probe would see Python's own libcrypto"
    assert report["outcomes"][0]["order_id"] == "A1"
    assert report["outcomes"][1] == "RuntimeError: Invalid callback signature"
    return report


@pytest.mark.parametrize("case", ["fips only", "provider library"])
def test_openssl_configuration_changes_nothing(case, unconfigured, tmp_path):
    # Any shared library stands for a provider: loading it at all is the fault. A copy under a
    # name of its own shows in the process's mappings if it was loaded.
    library = tmp_path / "extra-provider.so"
    shutil.copyfile(vemrat_pay.__file__, library)
    config = tmp_path / "openssl.cnf"
    config.write_text(FIPS_ONLY if case == "fips only" else PROVIDER_LIBRARY.format(library=library))

    report = probe(str(config))

    assert report["outcomes"] == unconfigured["outcomes"]
    assert str(library) not in report["mapped"]
