"""Nonces: fresh for every request, in every thread, and in both processes after a fork."""

import os
import urllib.parse

import pytest

NONCES_EACH = 200


def nonces(client, stub, count):
    drawn = []
    for _ in range(count):
        client.query_order("A1")
        drawn.append(dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(stub.last.url).query))["nonce"])
    return drawn


def test_nonces_are_lower_case_hex_and_distinct(client, stub):
    drawn = nonces(client, stub, 1000)
    assert all(len(n) == 32 and set(n) <= set("0123456789abcdef") for n in drawn)
    assert len(set(drawn)) == len(drawn)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_a_forked_child_does_not_repeat_the_parents_nonces(client, stub):
    # The parent has drawn before the fork, so it holds random bytes that the child inherits.
    before = nonces(client, stub, 3)
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.close(read_end)
            os.write(write_end, "\n".join(nonces(client, stub, NONCES_EACH)).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    parent = nonces(client, stub, NONCES_EACH)
    with os.fdopen(read_end) as pipe:
        in_child = pipe.read().split("\n")
    os.waitpid(child, 0)
    assert len(in_child) == NONCES_EACH
    assert not set(in_child) & set(parent)
    assert not set(in_child) & set(before)
