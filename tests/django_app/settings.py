"""A minimal project around vemrat_pay_django, for the app's own tests.

The database is SQLite, or the PostgreSQL server on 127.0.0.1 whose port is in
VEMRAT_PAY_TEST_POSTGRES_PORT (run.py --database=postgresql starts one and sets it).
"""

import os
import tempfile

SECRET_KEY = "vemrat-pay-django-tests"
DEBUG = False
ALLOWED_HOSTS = ["127.0.0.1", "localhost", "testserver", "shop.example"]
USE_TZ = True
TIME_ZONE = "UTC"
ROOT_URLCONF = "urls"
DEFAULT_AUTO_FIELD = "django.db.models.BigAutoField"
STATIC_URL = "static/"

INSTALLED_APPS = [
    "django.contrib.admin",
    "django.contrib.auth",
    "django.contrib.contenttypes",
    "django.contrib.sessions",
    "django.contrib.messages",
    "vemrat_pay_django",
]

MIDDLEWARE = [
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.contrib.auth.middleware.AuthenticationMiddleware",
    "django.contrib.messages.middleware.MessageMiddleware",
]

TEMPLATES = [{
    "BACKEND": "django.template.backends.django.DjangoTemplates",
    "APP_DIRS": True,
    "OPTIONS": {"context_processors": [
        "django.template.context_processors.request",
        "django.contrib.auth.context_processors.auth",
        "django.contrib.messages.context_processors.messages",
    ]},
}]

DATABASES = {
    "default": {
        "ENGINE": "django.db.backends.sqlite3",
        # A file, not memory, so that a live server's threads each have their own connection.
        "NAME": os.path.join(tempfile.gettempdir(), "vemrat-pay-django-tests.sqlite3"),
        "TEST": {"NAME": os.path.join(tempfile.mkdtemp(prefix="vemrat-pay-django-"), "test.sqlite3")},
        # Writers take the lock when their transaction begins, so that two never deadlock;
        # durability is not tested here, and without it each test's flush is much faster.
        "OPTIONS": {"transaction_mode": "IMMEDIATE", "init_command": "PRAGMA synchronous=OFF"},
    },
}

if os.environ.get("VEMRAT_PAY_TEST_POSTGRES_PORT"):
    DATABASES = {"default": {
        "ENGINE": "django.db.backends.postgresql", "NAME": "postgres", "USER": "postgres",
        "HOST": "127.0.0.1", "PORT": os.environ["VEMRAT_PAY_TEST_POSTGRES_PORT"],
    }}

VEMRAT_PAY = {"SOCKET_TIMEOUT": 10}
