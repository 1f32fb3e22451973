"""The shipped migrations match the models."""

import io

import pytest
from django.core.management import call_command


@pytest.mark.django_db
def test_the_migrations_match_the_models() -> None:
    out = io.StringIO()
    call_command("makemigrations", "vemrat_pay", "--check", "--dry-run", stdout=out)
    assert "No changes detected" in out.getvalue()
