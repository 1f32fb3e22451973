"""A service that answers a redirect to another host, through the three openers a merchant may
have: urllib's default one follows it (the answer of the other host comes back as the service's),
the README's refusing opener and the keep-alive opener make it the error it is."""

import json
import re
import urllib.request
from pathlib import Path

import pytest
from service_fixture import Answer, ServiceServer

import vemrat_pay_keepalive

README = Path(__file__).resolve().parents[1] / "README.md"
REDIRECT_BODY = "moved"
ELSEWHERE = Answer(200, json.dumps({"data": {"order_id": "ELSEWHERE", "pay_url": "http://evil/pay"}}).encode())

OPERATIONS = {
    "create_payment": lambda client: client.create_payment(10, "CNY", "acct", "https://shop.test/cb").order_id,
    "query_order": lambda client: client.query_order("Q1").order_id,
}


def readme_refusing_opener():
    """Runs the code block of the README's section on redirects."""
    section = README.read_text(encoding="utf-8").split("### Redirects\n", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.DOTALL)
    assert code is not None, "no code block under the README's ### Redirects"
    exec(code.group(1), {})


OPENERS = {
    "default opener": lambda: None,
    "README's opener": readme_refusing_opener,
    "keep-alive opener": vemrat_pay_keepalive.install,
}


@pytest.fixture
def elsewhere():
    """Another host (named localhost, where the service is 127.0.0.1) that answers anything."""
    server = ServiceServer().start()
    server.respond = lambda request: ELSEWHERE
    yield server
    server.stop()


@pytest.fixture(params=OPENERS, ids=OPENERS.keys())
def opener(request, served):
    """The opener installed for the test, urllib's default one back afterwards."""
    urllib.request.install_opener(None)
    pool = OPENERS[request.param]()
    yield request.param
    if pool is not None:
        pool.close()
    urllib.request.install_opener(None)


def redirect_to(url, code):
    head = f"HTTP/1.0 {code} Elsewhere\r\nLocation: {url}\r\nContent-Length: {len(REDIRECT_BODY)}\r\n\r\n"
    return Answer(0, raw=(head + REDIRECT_BODY).encode())


@pytest.mark.parametrize("code", [301, 302, 303, 307, 308])
@pytest.mark.parametrize("name", OPERATIONS)
def test_redirect_to_another_host(served, elsewhere, opener, client, name, code):
    served.answer_with(lambda request: redirect_to(f"http://localhost:{elsewhere.port}/pay", code))
    # urllib follows a GET's redirects and a POST's 301 to 303, which it turns into a GET.
    followed = opener == "default opener" and (name == "query_order" or code in (301, 302, 303))
    if followed:
        assert OPERATIONS[name](client) == "ELSEWHERE"
        assert [request.method for request in elsewhere.requests] == ["GET"]
    else:
        with pytest.raises(RuntimeError) as caught:
            OPERATIONS[name](client)
        assert caught.value.args == (f"HTTP {code}: {REDIRECT_BODY}",)
        assert elsewhere.requests == []
    assert len(served.requests) == 1


@pytest.mark.parametrize("opener", ["keep-alive opener"], indirect=True)
def test_keep_alive_follows_redirects_of_other_urls(served, elsewhere, opener):
    """Only the service's answers are refused: a redirect of another origin's URL is followed."""
    elsewhere.answer_with(lambda request: redirect_to(f"{served.url}/pay", 302))
    served.answer_with(lambda request: ELSEWHERE)
    with urllib.request.urlopen(f"http://localhost:{elsewhere.port}/start") as response:
        assert json.load(response)["data"]["order_id"] == "ELSEWHERE"
    assert [request.path for request in served.requests] == ["/pay"]
